#include "JournalLog.h"

#include <QDebug>
#include <QtGlobal>
#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <sys/uio.h>
// The place in this writer would be the same for every entry: no CODE_FILE= and CODE_LINE=.
#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-journal.h>
#include <unistd.h>
#include <vector>

namespace {

// What JournalLog::write() adds to the line that it is writing.
struct Pending
{
    JournalLog::Priority priority;
    const QList<JournalLog::Field>* fields;
};
thread_local const Pending* t_pending = nullptr;

JournalLog::Sender& journalSender()
{
    static JournalLog::Sender sender;
    return sender;
}

int priority(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return JournalLog::Debug;
    case QtInfoMsg:
        return JournalLog::Info;
    case QtWarningMsg:
        return JournalLog::Warning;
    case QtCriticalMsg:
        return JournalLog::Err;
    case QtFatalMsg:
        return 2;
    }
    return JournalLog::Info;
}

// The stream's own form, when the journal's socket does not take the entry: journald splits the
// stream at each newline, so every line needs its own prefix.
void writePrefixed(int priority, const QByteArray& text)
{
    const QByteArray prefix = '<' + QByteArray::number(priority) + '>';
    QByteArray out;
    for (const QByteArray& line : text.split('\n')) {
        out += prefix + line + '\n';
    }
    std::fwrite(out.constData(), 1, size_t(out.size()), stderr);
    std::fflush(stderr);
}

void journalHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const Pending* pending = t_pending;
    const int level = pending ? pending->priority : priority(type);
    const QByteArray text = qFormatLogMessage(type, context, message).toLocal8Bit();
    // The stream named the program; an entry of our own names it the same way.
    QByteArrayList items{"MESSAGE=" + text, "PRIORITY=" + QByteArray::number(level),
                         QByteArray("SYSLOG_IDENTIFIER=") + program_invocation_short_name};
    if (pending) {
        for (const JournalLog::Field& field : *pending->fields) {
            items << field.first + '=' + field.second;
        }
    }
    if (!journalSender()(items)) {
        writePrefixed(level, text);
    }
}

} // namespace

bool JournalLog::install(Sender sender)
{
    if (!stderrIsJournal()) {
        return false;
    }
    journalSender() = std::move(sender);
    qInstallMessageHandler(journalHandler);
    return true;
}

void JournalLog::write(Priority priority, const QString& message, const QList<Field>& fields)
{
    const Pending pending{priority, &fields};
    t_pending = &pending;
    QMessageLogger logger;
    switch (priority) {
    case Err:
        logger.critical().noquote() << message;
        break;
    case Warning:
        logger.warning().noquote() << message;
        break;
    case Notice:
    case Info:
        logger.info().noquote() << message;
        break;
    case Debug:
        logger.debug().noquote() << message;
        break;
    }
    t_pending = nullptr;
}

JournalLog::Sender JournalLog::nativeSender()
{
    // sd_journal_sendv() reports success when nothing listens: without the socket, for instance
    // in a namespace that hides it, the stream's prefixes are the only way into the journal.
    const bool socketThere = ::access("/run/systemd/journal/socket", W_OK) == 0;
    return [socketThere](const QByteArrayList& items) {
        if (!socketThere) {
            return false;
        }
        std::vector<iovec> vector;
        vector.reserve(size_t(items.size()));
        for (const QByteArray& item : items) {
            vector.push_back({const_cast<char*>(item.constData()), size_t(item.size())});
        }
        return sd_journal_sendv(vector.data(), int(vector.size())) == 0;
    };
}

bool JournalLog::stderrIsJournal()
{
    // systemd writes "<device>:<inode>" of the stream it connected; a child that inherited the
    // variable but writes elsewhere must not get the prefix.
    const QList<QByteArray> parts = qgetenv("JOURNAL_STREAM").split(':');
    struct stat status;
    if (parts.size() != 2 || fstat(2, &status) != 0) {
        return false;
    }
    bool deviceOk = false;
    bool inodeOk = false;
    const qulonglong device = parts[0].toULongLong(&deviceOk);
    const qulonglong inode = parts[1].toULongLong(&inodeOk);
    return deviceOk && inodeOk && device == qulonglong(status.st_dev) &&
           inode == qulonglong(status.st_ino);
}
