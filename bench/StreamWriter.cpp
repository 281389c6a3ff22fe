#include "StreamWriter.h"

#include "PosixSocket.h"

#include <sys/socket.h>
#include <unistd.h>

StreamWriter::StreamWriter(int fd, std::string opening, const std::string& batch)
    : m_fd(fd), m_thread([this, opening = std::move(opening), &batch] { run(opening, batch); })
{
}

StreamWriter::~StreamWriter()
{
    m_stop = true;
    // Wakes a write blocked on a full socket.
    ::shutdown(m_fd, SHUT_RDWR);
    m_thread.join();
    ::close(m_fd);
}

void StreamWriter::run(const std::string& opening, const std::string& batch)
{
    if (!PosixSocket::writeAll(m_fd, opening)) {
        return;
    }
    while (!m_stop && PosixSocket::writeAll(m_fd, batch)) {
    }
}
