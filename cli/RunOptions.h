#pragma once

#include "ScanTask.h"

#include <QByteArrayList>
#include <QList>
#include <QString>
#include <QStringList>

// What the command line asks of this run. Without options a run scans and exits with status 0,
// as the suite's own scheduler expects; everything else is asked for.
struct RunOptions
{
    enum class Action {
        Scan,
        ShowSchedule,
        SetSchedule,
        SyncTimer,
        Exit, // --help, --version or a usage error: nothing to do but exit with exitCode
    };
    // A usage error, as the tools of a shell report theirs.
    static constexpr int kUsageError = 2;

    // `arguments` as Qt decoded them, `raw` the same words as the command line's bytes.
    static RunOptions parse(const QStringList& arguments, const QByteArrayList& raw);

    Action action = Action::Scan;
    int exitCode = 0;
    bool exitStatus = false;
    bool ifIncomplete = false;
    bool ifScheduled = false;
    qint64 waitForDaemonsMs = 0;
    qint64 deferOnBatteryMs = 0;
    QString scheduleType;
    QList<ScanTask::ItemType> scheduleItems;
    QByteArrayList schedulePaths;
    QString scheduleAt;   // --at, as given
    QString scheduleDays; // --days, as given
};
