#pragma once

#include <QDBusConnection>
#include <QDateTime>
#include <QString>

// The user's service manager, asked over its D-Bus API about the timer that starts the
// scheduled runs, and told when the timer's times have changed. Every call is bounded.
class SystemdTimer
{
public:
    static constexpr int kWaitMs = 30000;
    static const char kUnit[];

    // What the manager knows of the timer.
    struct Status
    {
        enum State {
            NoManager,    // no session bus, or no manager on it
            NotInstalled, // the manager has no such unit
            NotEnabled,
            NotRunning, // enabled, but stopped
            Waiting,    // `next` is when it elapses
            NoNextRun,  // running, with nothing to wait for
        };
        State state = NoManager;
        QDateTime next;
    };

    // The session bus: $DBUS_SESSION_BUS_ADDRESS, else the user bus in $XDG_RUNTIME_DIR.
    static QDBusConnection userBus();

    explicit SystemdTimer(QDBusConnection bus = userBus(), int waitMs = kWaitMs);

    Status status() const;
    // Has the manager read its unit files again, then restarts the timer if it runs, so that it
    // counts from its new times, from now on. A stopped timer stays stopped.
    bool reloadAndRestart(QString* error) const;

private:
    QDBusConnection m_bus;
    int m_waitMs;
};
