#include "JournalLog.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>
#include <cstdio>
#include <sys/stat.h>

namespace {
// syslog(3) priorities, as journald takes them.
int priority(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return 7;
    case QtInfoMsg:
        return 6;
    case QtWarningMsg:
        return 4;
    case QtCriticalMsg:
        return 3;
    case QtFatalMsg:
        return 2;
    }
    return 6;
}

void journalHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    // journald splits the stream at each newline: every line needs its own prefix.
    const QByteArray prefix = '<' + QByteArray::number(priority(type)) + '>';
    QByteArray out;
    for (const QByteArray& line :
         qFormatLogMessage(type, context, message).toLocal8Bit().split('\n')) {
        out += prefix + line + '\n';
    }
    std::fwrite(out.constData(), 1, size_t(out.size()), stderr);
    std::fflush(stderr);
}
} // namespace

bool JournalLog::install()
{
    if (!stderrIsJournal()) {
        return false;
    }
    qInstallMessageHandler(journalHandler);
    return true;
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
