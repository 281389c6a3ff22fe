#include "DaemonConnector.h"

#include "EscapedName.h"
#include "IPCLink.h"

#include <QDebug>
#include <QLocalSocket>
#include <QSignalBlocker>
#include <cerrno>
#include <poll.h>

namespace {

// How often a connection attempt looks for a stop signal: connecting has no wait to wake.
constexpr qint64 kStopCheckMs = 100;

bool notListening(QLocalSocket::LocalSocketError error)
{
    return error == QLocalSocket::ServerNotFoundError ||
           error == QLocalSocket::ConnectionRefusedError;
}

// What the socket said, in words.
QString said(const QLocalSocket& socket)
{
    switch (socket.error()) {
    case QLocalSocket::ServerNotFoundError:
        return QStringLiteral("no such socket");
    case QLocalSocket::ConnectionRefusedError:
        return QStringLiteral("connection refused, nothing listens there");
    case QLocalSocket::SocketAccessError:
        return QStringLiteral("permission denied");
    case QLocalSocket::PeerClosedError:
        return QStringLiteral("closed by the other end");
    case QLocalSocket::SocketTimeoutError:
    case QLocalSocket::SocketResourceError:
    case QLocalSocket::DatagramTooLargeError:
    case QLocalSocket::ConnectionError:
    case QLocalSocket::UnsupportedSocketOperationError:
    case QLocalSocket::OperationError:
    case QLocalSocket::UnknownSocketError:
        break;
    }
    return socket.errorString();
}

} // namespace

DaemonConnector::DaemonConnector(std::function<bool()> stopped, PeerGuard peers)
    : m_stopped(std::move(stopped)), m_peers(std::move(peers)), m_waitMs(IPCLink::kWaitMs)
{
}

DaemonConnector::Result DaemonConnector::connect(QLocalSocket& socket, const QString& path,
                                                 const QString& daemon)
{
    bool connected = false;
    {
        // The socket's own error lines come once, when the attempts are over, not per attempt.
        const QSignalBlocker quiet(socket);
        connected = connectWhenListening(socket, path, daemon);
    }
    if (!connected) {
        if (!m_stopped()) {
            reportFailure(socket, path, daemon);
        }
        return Result::NotConnected;
    }
    if (!m_peers.admit(socket, path)) {
        // Closed before a single byte went out: the impostor learns nothing of the run.
        socket.abort();
        return Result::Untrusted;
    }
    return Result::Connected;
}

bool DaemonConnector::connectWhenListening(QLocalSocket& socket, const QString& path,
                                           const QString& daemon)
{
    socket.connectToServer(path, QIODevice::ReadWrite);
    if (waitForConnected(socket)) {
        return true;
    }
    if (m_stopped() || path.isEmpty() || !notListening(socket.error()) ||
        m_daemonWait.hasExpired()) {
        return false;
    }
    const qint64 bound = (m_daemonWait.remainingTime() + 999) / 1000;
    qInfo().noquote() << QStringLiteral("%1 is not listening at \"%2\" yet, the run waits up to "
                                        "%3 s for it")
                             .arg(daemon, escapedName(path), QString::number(bound));
    bool connected = false;
    for (int pauseMs = kFirstRetryPauseMs; !connected && !m_daemonWait.hasExpired();
         pauseMs = qMin(pauseMs * 2, kMaxRetryPauseMs)) {
        if (!pause(int(qMin(qint64(pauseMs), m_daemonWait.remainingTime())))) {
            break;
        }
        socket.connectToServer(path, QIODevice::ReadWrite);
        connected = waitForConnected(socket);
        if (!connected && !notListening(socket.error())) {
            break;
        }
    }
    if (m_stopped()) {
        return false;
    }
    qInfo().noquote()
        << (connected ? QStringLiteral("%1 is listening now, the run goes on").arg(daemon)
                      : QStringLiteral("%1 did not appear within %2 s").arg(daemon).arg(bound));
    return connected;
}

void DaemonConnector::reportFailure(QLocalSocket& socket, const QString& path,
                                    const QString& daemon)
{
    if (socket.state() != QLocalSocket::UnconnectedState) {
        // Still trying when the wait ran out: the socket has nothing to say.
        socket.abort();
        qWarning().noquote() << QStringLiteral("Cannot connect to %1 at \"%2\": no connection "
                                               "within %3 ms")
                                    .arg(daemon, escapedName(path))
                                    .arg(m_waitMs);
        return;
    }
    emit socket.errorOccurred(socket.error());
    qWarning().noquote()
        << QStringLiteral("Cannot connect to %1 at \"%2\": %3").arg(daemon, path, said(socket));
}

bool DaemonConnector::pause(int ms)
{
    // Without a wake descriptor it is -1, which poll() passes over: a plain pause.
    pollfd wake{m_wakeFd, POLLIN, 0};
    const QDeadlineTimer deadline(ms);
    int ready = 0;
    do {
        ready = ::poll(&wake, 1, int(deadline.remainingTime()));
    } while (ready < 0 && errno == EINTR);
    return !m_stopped();
}

bool DaemonConnector::waitForConnected(QLocalSocket& socket)
{
    const QDeadlineTimer deadline(m_waitMs);
    for (;;) {
        if (m_stopped() || socket.state() == QLocalSocket::UnconnectedState) {
            return false;
        }
        if (socket.state() == QLocalSocket::ConnectedState) {
            return true;
        }
        if (deadline.hasExpired()) {
            return false;
        }
        socket.waitForConnected(int(qMin(deadline.remainingTime(), kStopCheckMs)));
    }
}
