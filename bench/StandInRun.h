#pragma once

#include "ChildProcess.h"
#include "InstantDaemons.h"
#include "TemporarySchedule.h"

// The surroundings of the programs that a benchmark starts: a private schedule and home, and the
// daemons' stand-ins listening where that schedule's environment points.
class StandInRun
{
public:
    explicit StandInRun(std::optional<quint32> acceptedTask = std::nullopt);

    bool isReady() const { return m_schedule.isValid() && m_daemons.isListening(); }
    const TemporarySchedule& schedule() const { return m_schedule; }
    InstantDaemons& daemons() { return m_daemons; }
    // How to start a program in these surroundings.
    ChildProcess::Options options() const;

private:
    TemporarySchedule m_schedule;
    InstantDaemons m_daemons;
};
