#include "PosixSocket.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <google/protobuf/message_lite.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace PosixSocket {

namespace {

constexpr size_t kPrefixBytes = sizeof(uint32_t);
constexpr int kBacklog = 16;
constexpr size_t kReadChunk = size_t(64) * 1024;

bool addressOf(const std::string& path, sockaddr_un* address)
{
    *address = {};
    address->sun_family = AF_UNIX;
    if (path.size() >= sizeof address->sun_path) {
        return false;
    }
    memcpy(address->sun_path, path.c_str(), path.size() + 1);
    return true;
}

} // namespace

int listenAt(const std::string& path)
{
    sockaddr_un address;
    if (!addressOf(path, &address)) {
        return -1;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ::unlink(path.c_str());
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, kBacklog) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return -1;
    }
    return fd;
}

int connectTo(const std::string& path)
{
    sockaddr_un address;
    if (!addressOf(path, &address)) {
        return -1;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool writeAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        // No SIGPIPE: a peer that has gone away is an ordinary end of a benchmark.
        const ssize_t written = ::send(fd, data, size, MSG_NOSIGNAL);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        size -= size_t(written);
    }
    return true;
}

bool writeAll(int fd, const std::string& bytes)
{
    return writeAll(fd, bytes.data(), bytes.size());
}

std::string frameOf(const google::protobuf::MessageLite& message)
{
    const uint32_t length = uint32_t(message.ByteSizeLong());
    std::string frame(reinterpret_cast<const char*>(&length), kPrefixBytes);
    message.AppendToString(&frame);
    return frame;
}

bool takeFrame(std::string& pending, std::string* body)
{
    uint32_t length = 0;
    if (pending.size() < kPrefixBytes) {
        return false;
    }
    memcpy(&length, pending.data(), kPrefixBytes);
    if (pending.size() < kPrefixBytes + length) {
        return false;
    }
    body->assign(pending, kPrefixBytes, length);
    pending.erase(0, kPrefixBytes + length);
    return true;
}

bool readFrame(int fd, std::string* body)
{
    std::string pending;
    char chunk[kReadChunk];
    while (!takeFrame(pending, body)) {
        // Never more than the frame still needs: what follows belongs to the next read.
        uint32_t length = 0;
        size_t wanted = kPrefixBytes - std::min(pending.size(), kPrefixBytes);
        if (wanted == 0) {
            memcpy(&length, pending.data(), kPrefixBytes);
            wanted = kPrefixBytes + length - pending.size();
        }
        const ssize_t got = ::read(fd, chunk, std::min(wanted, sizeof chunk));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        pending.append(chunk, size_t(got));
    }
    return true;
}

} // namespace PosixSocket
