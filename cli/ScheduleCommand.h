#pragma once

#include "ScanTask.h"
#include "SystemdTimer.h"
#include "TimerDropIn.h"

#include <QByteArrayList>
#include <QList>

class QTextStream;

// The schedule from the command line: shows what a scheduled run would scan and stores a new
// schedule in the front-end's settings, through the same ScanTask and Settings code as a run, so
// that what is shown is what is sent and what is stored is what the front-end reads. The user's
// timer follows a stored schedule at once where a user service manager answers.
class ScheduleCommand
{
public:
    static constexpr int kOk = 0;
    static constexpr int kFailed = 2;

    explicit ScheduleCommand(const SystemdTimer& timer,
                             TimerDropIn dropIn = TimerDropIn(TimerDropIn::defaultPath()));

    int show(QTextStream& out, QTextStream& err) const;
    // `type` is "express", "full", "custom" or "off"; only a custom schedule takes items and
    // paths. Paths come as the command line's bytes, so that a name is kept as the file system
    // has it. `at` (HH:MM) and `days` (mon,wed or daily or weekdays) replace the stored time and
    // days when given.
    int set(const QString& type, const QList<ScanTask::ItemType>& items,
            const QByteArrayList& rawPaths, const QString& at, const QString& days,
            QTextStream& out, QTextStream& err) const;
    // Sets the timer to the stored schedule, for the timer's sync service.
    int syncTimer(QTextStream& out, QTextStream& err) const;

private:
    int storeAndShow(QTextStream& out, QTextStream& err) const;
    QString nextRunLine() const;

    const SystemdTimer& m_timer;
    TimerDropIn m_dropIn;
};
