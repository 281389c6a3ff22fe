#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QList>
#include <QPair>
#include <QString>
#include <functional>

// Sends each log line to the journal when standard error is the journal's stream, as an entry of
// its own with its priority and, for the lines that carry them, fields that log shippers read
// instead of parsing the text. Lines going anywhere else stay as they are.
class JournalLog
{
public:
    // syslog(3) priorities, as journald takes them.
    enum Priority { Err = 3, Warning = 4, Notice = 5, Info = 6, Debug = 7 };
    // A journal field: an upper-case name and its value.
    using Field = QPair<QByteArray, QByteArray>;
    // Hands one entry, given as "NAME=value" items, to the journal; false when it did not take it.
    using Sender = std::function<bool(const QByteArrayList& items)>;

    // Installs the message handler when standard error is the journal's stream, as
    // $JOURNAL_STREAM says; returns whether it did. Tests pass a sender of their own; the program
    // keeps the journal's native socket.
    static bool install(Sender sender = nativeSender());
    // Writes `message` at `priority` through the Qt message handlers, the way every other line
    // goes; in the journal the entry also carries `fields`. Without the journal, Notice is written
    // as info.
    static void write(Priority priority, const QString& message, const QList<Field>& fields = {});

private:
    static Sender nativeSender();
    static bool stderrIsJournal();
};
