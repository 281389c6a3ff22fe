#include "ScheduleGate.h"

#include "ScanSchedule.h"
#include "Settings.h"

void ScheduleGate::start()
{
    // A settings file that cannot be used tells nothing of the schedule: the run goes on to the
    // scan task, which ends it not-started with a line naming the file (and the store would read
    // a FIFO there forever).
    if (!Settings::fileProblem().isEmpty() || ScanSchedule::read(Settings::instance()).isOn()) {
        emit passed();
        return;
    }
    emit closed(QStringLiteral("Scheduled scan not needed: the schedule is off"),
                RunJournal::Gate::NotNeeded);
}
