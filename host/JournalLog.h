#pragma once

// Gives each log line the priority that journald reads from a "<N>" prefix, so that the journal
// of a scheduled run tells warnings from the trace. Lines going anywhere else stay as they are.
class JournalLog
{
public:
    // Installs the message handler when standard error is the journal's stream, as
    // $JOURNAL_STREAM says; returns whether it did.
    static bool install();

private:
    static bool stderrIsJournal();
};
