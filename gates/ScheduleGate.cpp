#include "ScheduleGate.h"

#include "ScanSchedule.h"
#include "Settings.h"

void ScheduleGate::start()
{
    if (ScanSchedule::read(Settings::instance()).isOn()) {
        emit passed();
        return;
    }
    emit closed(QStringLiteral("Scheduled scan not needed: the schedule is off"),
                RunJournal::Gate::NotNeeded);
}
