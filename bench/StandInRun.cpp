#include "StandInRun.h"

StandInRun::StandInRun(std::optional<quint32> acceptedTask)
    : m_daemons(m_schedule.configdSocket(), m_schedule.fcSocket(), acceptedTask)
{
}

ChildProcess::Options StandInRun::options() const
{
    ChildProcess::Options options;
    options.environment = m_schedule.environment();
    return options;
}
