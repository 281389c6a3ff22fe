#include "SystemdTimer.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <limits>
#include <utime.h>

namespace {

const char kService[] = "org.freedesktop.systemd1";
const char kManagerPath[] = "/org/freedesktop/systemd1";
const char kManager[] = "org.freedesktop.systemd1.Manager";
const char kUnitInterface[] = "org.freedesktop.systemd1.Unit";
const char kTimerInterface[] = "org.freedesktop.systemd1.Timer";
const char kUserBusName[] = "norvo-user-bus";

QDBusMessage managerCall(const char* method)
{
    return QDBusMessage::createMethodCall(kService, kManagerPath, kManager, method);
}

} // namespace

const char SystemdTimer::kUnit[] = "norvo-scheduled-scan.timer";

QDBusConnection SystemdTimer::userBus()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        return QDBusConnection::sessionBus();
    }
    // A service of the user's manager may run without the variable; the bus is still there.
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    const QString socket = runtime + QStringLiteral("/bus");
    if (runtime.isEmpty() || !QFileInfo(socket).exists()) {
        return QDBusConnection(QString());
    }
    return QDBusConnection::connectToBus(QStringLiteral("unix:path=") + socket,
                                         QString::fromLatin1(kUserBusName));
}

SystemdTimer::SystemdTimer(QDBusConnection bus, int waitMs)
    : m_bus(std::move(bus)), m_waitMs(waitMs)
{
}

SystemdTimer::Status SystemdTimer::status() const
{
    Status status;
    if (!m_bus.isConnected()) {
        return status;
    }
    QDBusMessage load = managerCall("LoadUnit");
    load << QString::fromLatin1(kUnit);
    const QDBusMessage loaded = m_bus.call(load, QDBus::Block, m_waitMs);
    if (loaded.type() != QDBusMessage::ReplyMessage || loaded.arguments().size() != 1) {
        return status;
    }
    const QString unitPath = loaded.arguments().constFirst().value<QDBusObjectPath>().path();
    const auto property = [this, &unitPath](const char* interface, const char* name) {
        QDBusMessage get = QDBusMessage::createMethodCall(
            kService, unitPath, QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("Get"));
        get << QString::fromLatin1(interface) << QString::fromLatin1(name);
        const QDBusMessage reply = m_bus.call(get, QDBus::Block, m_waitMs);
        return reply.type() == QDBusMessage::ReplyMessage && reply.arguments().size() == 1
                   ? reply.arguments().constFirst().value<QDBusVariant>().variant()
                   : QVariant();
    };
    if (property(kUnitInterface, "LoadState").toString() != QLatin1String("loaded")) {
        status.state = Status::NotInstalled;
        return status;
    }
    if (property(kUnitInterface, "ActiveState").toString() != QLatin1String("active")) {
        const bool enabled =
            property(kUnitInterface, "UnitFileState").toString() == QLatin1String("enabled");
        status.state = enabled ? Status::NotRunning : Status::NotEnabled;
        return status;
    }
    // Microseconds since the epoch; 0 or the largest value when nothing is to come.
    const qulonglong nextUs = property(kTimerInterface, "NextElapseUSecRealtime").toULongLong();
    if (nextUs == 0 || nextUs == std::numeric_limits<qulonglong>::max()) {
        status.state = Status::NoNextRun;
        return status;
    }
    status.state = Status::Waiting;
    status.next = QDateTime::fromMSecsSinceEpoch(qint64(nextUs / 1000));
    return status;
}

bool SystemdTimer::reloadAndRestart(QString* error) const
{
    if (!m_bus.isConnected()) {
        *error = QStringLiteral("no session bus");
        return false;
    }
    // A persistent timer counts from its stamp, the time it last fired: without this, a new time
    // of day that has passed since then would start a scan at once, as if it had been missed.
    const QString stamp = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                          QStringLiteral("/systemd/timers/stamp-") + QString::fromLatin1(kUnit);
    if (QFileInfo::exists(stamp)) {
        utime(QFile::encodeName(stamp).constData(), nullptr);
    }
    QDBusMessage restart = managerCall("TryRestartUnit");
    restart << QString::fromLatin1(kUnit) << QStringLiteral("replace");
    for (const QDBusMessage& call : {managerCall("Reload"), restart}) {
        const QDBusMessage reply = m_bus.call(call, QDBus::Block, m_waitMs);
        if (reply.type() != QDBusMessage::ReplyMessage) {
            *error = QStringLiteral("%1 failed: %2").arg(call.member(), reply.errorMessage());
            return false;
        }
    }
    return true;
}
