#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A session-type D-Bus daemon of the test's own: nothing of the machine's buses is reached, and
// no service of the machine can be activated on it.
class PrivateBus
{
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool isRunning() const { return !m_address.isEmpty(); }
    // Why the daemon did not start, for a test's skip message.
    QString error() const { return m_error; }
    // What DBUS_SESSION_BUS_ADDRESS would hold.
    QString address() const { return m_address; }

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
    QString m_error;
};
