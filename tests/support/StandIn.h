#pragma once

#include <QProcess>
#include <QStringList>
#include <sys/types.h>

// A stand-in daemon as a process of its own, listening on `socket` once constructed.
class StandIn
{
public:
    StandIn(const QString& program, const QString& socket, const QStringList& arguments);
    // Runs the daemon as user and group `uid` with no supplementary groups, which needs root; it
    // must be able to reach `socket`'s directory and its other files.
    StandIn(const QString& program, const QString& socket, const QStringList& arguments, uid_t uid);
    // Ends the daemon as a service manager would, if it still runs.
    ~StandIn();
    StandIn(const StandIn&) = delete;
    StandIn& operator=(const StandIn&) = delete;

    // Ends the daemon at once, as a crash or an out-of-memory kill would.
    void kill();
    qint64 pid() const { return m_process.processId(); }

private:
    void start(const QString& program, const QString& socket, const QStringList& arguments);

    QProcess m_process;
};
