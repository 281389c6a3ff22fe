#pragma once

#include "RunGate.h"

// With --if-scheduled: passes when the front-end's schedule is on, so that a timer left running
// while the user switched scheduled scans off starts no scan.
class ScheduleGate : public RunGate
{
    Q_OBJECT

public:
    using RunGate::RunGate;

    void start() override;
};
