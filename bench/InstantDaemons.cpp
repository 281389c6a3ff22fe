#include "InstantDaemons.h"

#include "Notifications.h"
#include "PosixSocket.h"
#include "configd_public_ipc.pb.h"
#include "linux_gui_config.pb.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr quint32 kConfigRevision = 5;
constexpr size_t kReadChunk = size_t(64) * 1024;

std::string configReply()
{
    nv::Configd2PublicMessage reply;
    reply.set_tag(nv::Configd2PublicMessage::CONFIG_NOTIFICATION);
    reply.mutable_config()->set_app(nv::APP_LINUX_GUI);
    reply.mutable_config()->MutableExtension(nv::linux_gui_config)->set_auto_applying(true);
    reply.set_config_revision(kConfigRevision);
    return PosixSocket::frameOf(reply);
}

std::string fcheckReply(const std::string& fcPath)
{
    nv::Configd2PublicMessage reply;
    reply.set_tag(nv::Configd2PublicMessage::GET_FCHECK_RESPONSE);
    reply.set_socket_path(fcPath);
    return PosixSocket::frameOf(reply);
}

} // namespace

InstantDaemons::InstantDaemons(const std::string& configdPath, const std::string& fcPath,
                               std::optional<quint32> acceptedTask)
    : m_configdListener(PosixSocket::listenAt(configdPath)),
      m_fcListener(PosixSocket::listenAt(fcPath)), m_configReply(configReply()),
      m_fcheckReply(fcheckReply(fcPath))
{
    if (acceptedTask) {
        m_startReply = PosixSocket::frameOf(Notifications::scanStarted(*acceptedTask));
    }
    if (::pipe2(m_wake, O_CLOEXEC) == 0 && isListening()) {
        m_thread = std::thread([this] { run(); });
    }
}

InstantDaemons::~InstantDaemons()
{
    if (m_thread.joinable()) {
        send(Quit);
        m_thread.join();
    }
    for (const int fd : {m_configdListener, m_fcListener, m_wake[0], m_wake[1]}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

std::optional<InstantDaemons::Clock::time_point>
InstantDaemons::waitForScanRequest(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    m_changed.wait_for(lock, timeout, [this] { return m_scanRequestAt.has_value(); });
    return std::exchange(m_scanRequestAt, std::nullopt);
}

int InstantDaemons::scanConnection()
{
    const std::lock_guard lock(m_mutex);
    return m_scanConnection;
}

void InstantDaemons::closeConnections()
{
    send(CloseAll);
}

void InstantDaemons::send(Command command)
{
    std::unique_lock lock(m_mutex);
    const int done = m_commandsDone;
    const char byte = command;
    if (::write(m_wake[1], &byte, 1) != 1) {
        return;
    }
    m_changed.wait(lock, [this, done] { return m_commandsDone > done; });
}

void InstantDaemons::run()
{
    for (;;) {
        std::vector<pollfd> watched{
            {m_wake[0], POLLIN, 0}, {m_configdListener, POLLIN, 0}, {m_fcListener, POLLIN, 0}};
        for (const Connection& connection : m_connections) {
            watched.push_back({connection.fd, POLLIN, 0});
        }
        if (::poll(watched.data(), watched.size(), -1) < 0) {
            continue;
        }
        if (watched[0].revents) {
            char command = 0;
            if (::read(m_wake[0], &command, 1) == 1) {
                closeAll();
                const std::lock_guard lock(m_mutex);
                ++m_commandsDone;
                m_changed.notify_all();
            }
            if (command == Quit) {
                return;
            }
            continue;
        }
        if (watched[1].revents) {
            accept(m_configdListener, false);
        }
        if (watched[2].revents) {
            accept(m_fcListener, true);
        }
        // Served back to front, so that dropping a connection leaves the rest in place.
        for (size_t i = watched.size() - 1; i >= 3; --i) {
            Connection& connection = m_connections[i - 3];
            if (watched[i].revents && !serve(connection)) {
                drop(i - 3);
            }
        }
    }
}

void InstantDaemons::accept(int listener, bool fileCheck)
{
    const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
        m_connections.push_back({fd, fileCheck, std::string()});
    }
}

bool InstantDaemons::serve(Connection& connection)
{
    char chunk[kReadChunk];
    const ssize_t got = ::read(connection.fd, chunk, sizeof chunk);
    if (got <= 0) {
        return false;
    }
    connection.pending.append(chunk, size_t(got));
    std::string body;
    while (PosixSocket::takeFrame(connection.pending, &body)) {
        answer(connection, body);
    }
    return true;
}

void InstantDaemons::answer(Connection& connection, const std::string& body)
{
    if (connection.fileCheck) {
        const Clock::time_point arrived = Clock::now();
        fc::ClientMessage request;
        if (!request.ParseFromString(body) ||
            request.tag() != fc::ClientMessage::START_SCAN_REQUEST) {
            return;
        }
        if (!m_startReply.empty()) {
            PosixSocket::writeAll(connection.fd, m_startReply);
        }
        const std::lock_guard lock(m_mutex);
        m_scanRequestAt = arrived;
        m_scanConnection = connection.fd;
        m_changed.notify_all();
        return;
    }
    nv::Public2ConfigdMessage request;
    if (!request.ParseFromString(body)) {
        return;
    }
    switch (request.tag()) {
    case nv::Public2ConfigdMessage::SUBSCRIBE_TO_CONFIG:
        PosixSocket::writeAll(connection.fd, m_configReply);
        break;
    case nv::Public2ConfigdMessage::GET_FCHECK_REQUEST:
        PosixSocket::writeAll(connection.fd, m_fcheckReply);
        break;
    default:
        break;
    }
}

void InstantDaemons::drop(size_t index)
{
    const int fd = m_connections[index].fd;
    m_connections.erase(m_connections.begin() + long(index));
    {
        // The number is free for the next connection once closed.
        const std::lock_guard lock(m_mutex);
        if (m_scanConnection == fd) {
            m_scanConnection = -1;
        }
    }
    ::close(fd);
}

void InstantDaemons::closeAll()
{
    while (!m_connections.empty()) {
        drop(m_connections.size() - 1);
    }
}
