#pragma once

#include "JournalLog.h"
#include "RunReport.h"

#include <QString>

// The lines the journal files by kind: the run's closing line, at the priority of its outcome,
// and each threat. Each kind has a fixed MESSAGE_ID (explained in the package's catalog), so that
// `journalctl MESSAGE_ID=...` lists every run's end and log shippers read fields, not text.
class RunJournal
{
public:
    // Ends of a run that stopped before it had anything to report.
    enum class Gate { AlreadyRunning, NotNeeded };

    static void closingLine(const RunReport& report);
    static void closingLine(Gate gate, const QString& line);
    static void threat(const RunReport::Threat& threat, quint32 taskId);

    // What the closing line of a finished run with `threats` found, or of any other outcome,
    // weighs: err for a run that could not start or did not finish, warning for threats, notice
    // for a clean finish, info for a stop.
    static JournalLog::Priority priority(RunReport::Outcome outcome, quint64 threats);
    // As the log writes it: "Threat found: "<file>": <names>, <what was done>".
    static QString threatLine(const RunReport::Threat& threat);
};
