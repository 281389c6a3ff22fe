#include "BatteryGate.h"

BatteryGate::BatteryGate(const QDBusConnection& bus, qint64 boundMs) : m_wait(bus, boundMs)
{
    connect(&m_wait, &BatteryWait::finished, this, &RunGate::passed);
}

void BatteryGate::start()
{
    m_wait.start();
}

void BatteryGate::cancel()
{
    m_wait.cancel();
}
