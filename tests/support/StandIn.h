#pragma once

#include <QProcess>
#include <QStringList>

// A stand-in daemon as a process of its own, listening on `socket` once constructed.
class StandIn
{
public:
    StandIn(const QString& program, const QString& socket, const QStringList& arguments);
    // Ends the daemon as a service manager would, if it still runs.
    ~StandIn();
    StandIn(const StandIn&) = delete;
    StandIn& operator=(const StandIn&) = delete;

    // Ends the daemon at once, as a crash or an out-of-memory kill would.
    void kill();

private:
    QProcess m_process;
};
