#pragma once

#include "SystemdTimer.h"
#include "TimerDropIn.h"

class ScanSchedule;

// Keeps the user's timer on the schedule's days and time: writes the timer's drop-in and, when
// its text changed, has the user's service manager take it.
class TimerSync
{
public:
    struct Result
    {
        bool ok = false;
        QString message; // one line for the user or the journal
    };

    TimerSync(const SystemdTimer& timer, TimerDropIn dropIn);

    Result sync(const ScanSchedule& schedule) const;

private:
    const SystemdTimer& m_timer;
    TimerDropIn m_dropIn;
};
