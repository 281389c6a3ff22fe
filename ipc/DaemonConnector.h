#pragma once

#include "PeerGuard.h"

#include <QDeadlineTimer>
#include <QString>
#include <functional>

class QLocalSocket;

// Connects a socket to one of the suite's daemons: within the daemon wait while nothing listens
// at the path yet, with growing pauses that a stop signal cuts short, and only to a peer that
// PeerGuard trusts. Both of the run's connections go through one connector, so the daemon wait
// counts from the start of the run for both.
class DaemonConnector
{
public:
    enum class Result { Connected, NotConnected, Untrusted };

    // Pauses between attempts to reach a daemon that is not listening yet: quick at first, as a
    // daemon that starts at boot is soon there, then no more than one attempt in this long.
    static constexpr int kFirstRetryPauseMs = 1000;
    static constexpr int kMaxRetryPauseMs = 30000;

    // `stopped` delivers pending stop signals and tells whether they have ended the run; it is
    // asked between every two slices of a wait.
    explicit DaemonConnector(
        std::function<bool()> stopped = [] { return false; }, PeerGuard peers = PeerGuard());

    // Tests shorten the connect wait; the program keeps IPCLink::kWaitMs.
    void setWaitMs(int ms) { m_waitMs = ms; }
    // How long to wait for daemons that are not listening yet, as after a boot; counted from
    // this call. 0: not at all.
    void setDaemonWait(qint64 ms) { m_daemonWait.setRemainingTime(ms); }
    // A descriptor that becomes readable when a stop signal arrives: it ends a pause at once.
    void setWakeDescriptor(int fd) { m_wakeFd = fd; }

    // NotConnected also after a stop; Untrusted with the socket aborted before a byte went out.
    Result connect(QLocalSocket& socket, const QString& path, const QString& daemon);

private:
    bool connectWhenListening(QLocalSocket& socket, const QString& path, const QString& daemon);
    bool waitForConnected(QLocalSocket& socket);
    // The socket's error as it would have reported it, then a line in words: which daemon,
    // which path, what the socket said.
    void reportFailure(QLocalSocket& socket, const QString& path, const QString& daemon);
    // False when a stop signal ended the run during the pause.
    bool pause(int ms);

    std::function<bool()> m_stopped;
    PeerGuard m_peers;
    int m_waitMs;
    int m_wakeFd = -1;
    QDeadlineTimer m_daemonWait{0};
};
