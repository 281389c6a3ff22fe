#include "TimerSync.h"

#include "ScanSchedule.h"

TimerSync::TimerSync(const SystemdTimer& timer, TimerDropIn dropIn)
    : m_timer(timer), m_dropIn(std::move(dropIn))
{
}

TimerSync::Result TimerSync::sync(const ScanSchedule& schedule) const
{
    QString error;
    switch (m_dropIn.write(TimerDropIn::text(schedule.calendarEvent()), &error)) {
    case TimerDropIn::Result::Unchanged:
        // The front-end also writes its window's place to the settings; that reloads nothing.
        return {true, QStringLiteral("Timer unchanged: %1").arg(schedule.description())};
    case TimerDropIn::Result::Written:
        if (!m_timer.reloadAndRestart(&error)) {
            return {false, QStringLiteral("Timer file \"%1\" written, but the user service "
                                          "manager did not take it: %2")
                               .arg(m_dropIn.path(), error)};
        }
        return {true, QStringLiteral("Timer updated: %1").arg(schedule.description())};
    case TimerDropIn::Result::Failed:
        break;
    }
    return {false, QStringLiteral("Cannot update the timer: %1").arg(error)};
}
