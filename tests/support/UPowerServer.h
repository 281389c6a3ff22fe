#pragma once

#include <QDBusConnection>
#include <QDBusVirtualObject>

// UPower's daemon object as far as a scheduled run asks it: the OnBattery property through
// org.freedesktop.DBus.Properties, and its PropertiesChanged signal. Answers Get as a test tells
// it: with the value, or not at all.
class UPowerServer : public QDBusVirtualObject
{
    Q_OBJECT

public:
    static constexpr char kPath[] = "/org/freedesktop/UPower";

    UPowerServer(const QDBusConnection& bus, bool onBattery, bool answers);

    // Sets OnBattery and signals the change.
    void setOnBattery(bool onBattery);
    // Signals a change of another property, as UPower does when the lid closes.
    void changeOtherProperty();

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

private:
    void signalChange(const QVariantMap& changed);

    QDBusConnection m_bus;
    bool m_onBattery;
    bool m_answers;
};
