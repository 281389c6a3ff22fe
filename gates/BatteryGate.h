#pragma once

#include "BatteryWait.h"
#include "RunGate.h"

// With --defer-on-battery: passes once the machine is on mains power, or when the wait's bound
// is reached; it never closes, since a deferred scan is still due.
class BatteryGate : public RunGate
{
    Q_OBJECT

public:
    BatteryGate(const QDBusConnection& bus, qint64 boundMs);

    void start() override;
    void cancel() override;

private:
    BatteryWait m_wait;
};
