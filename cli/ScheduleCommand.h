#pragma once

#include "ScanTask.h"
#include "SystemdTimer.h"

#include <QByteArrayList>
#include <QList>
#include <functional>

class QTextStream;

// The schedule from the command line: shows what a scheduled run would scan and stores a new
// schedule in the front-end's settings, through the same ScanTask and Settings code as a run, so
// that what is shown is what is sent and what is stored is what the front-end reads.
class ScheduleCommand
{
public:
    static constexpr int kOk = 0;
    static constexpr int kFailed = 2;

    // The time the next run is due, empty when unknown.
    using NextRunLookup = std::function<QString()>;

    explicit ScheduleCommand(NextRunLookup nextRun = &SystemdTimer::nextElapse);

    int show(QTextStream& out, QTextStream& err) const;
    // `type` is "express", "full" or "custom"; only a custom schedule takes items and paths.
    // Paths come as the command line's bytes, so that a name is kept as the file system has it.
    int set(const QString& type, const QList<ScanTask::ItemType>& items,
            const QByteArrayList& rawPaths, QTextStream& out, QTextStream& err) const;

private:
    NextRunLookup m_nextRun;
};
