#include "UPowerServer.h"

#include <QDBusMessage>
#include <QDBusVariant>

namespace {
constexpr char kInterface[] = "org.freedesktop.UPower";
constexpr char kPropertiesInterface[] = "org.freedesktop.DBus.Properties";
constexpr char kOnBattery[] = "OnBattery";
constexpr char kLidIsClosed[] = "LidIsClosed";
} // namespace

UPowerServer::UPowerServer(const QDBusConnection& bus, bool onBattery, bool answers)
    : m_bus(bus), m_onBattery(onBattery), m_answers(answers)
{
}

void UPowerServer::setOnBattery(bool onBattery)
{
    m_onBattery = onBattery;
    signalChange({{QLatin1String(kOnBattery), onBattery}});
}

void UPowerServer::changeOtherProperty()
{
    signalChange({{QLatin1String(kLidIsClosed), true}});
}

QString UPowerServer::introspect(const QString&) const
{
    return {};
}

bool UPowerServer::handleMessage(const QDBusMessage& message, const QDBusConnection& connection)
{
    const QVariantList arguments = message.arguments();
    if (message.interface() != QLatin1String(kPropertiesInterface) ||
        message.member() != QLatin1String("Get") ||
        arguments != QVariantList{QLatin1String(kInterface), QLatin1String(kOnBattery)}) {
        return false;
    }
    if (m_answers) {
        connection.send(
            message.createReply(QVariant::fromValue(QDBusVariant(QVariant(m_onBattery)))));
    } else {
        // Keeps the caller waiting for a reply that never comes.
        message.setDelayedReply(true);
    }
    return true;
}

void UPowerServer::signalChange(const QVariantMap& changed)
{
    QDBusMessage signal =
        QDBusMessage::createSignal(QLatin1String(kPath), QLatin1String(kPropertiesInterface),
                                   QStringLiteral("PropertiesChanged"));
    signal.setArguments({QLatin1String(kInterface), changed, QStringList()});
    m_bus.send(signal);
}
