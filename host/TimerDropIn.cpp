#include "TimerDropIn.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

const char kHeader[] =
    "# Written by norvo-scheduled-scan --sync-timer from the schedule in the front-end's\n"
    "# settings, each time they change: changes made here are overwritten. Set the days and\n"
    "# time in the front-end or with norvo-scheduled-scan --set-schedule.\n"
    "[Timer]\n"
    "OnCalendar=\n";
// A timer needs a time to load at all; one long past never comes.
const char kNever[] = "# The schedule is off: a day long past, so that the timer never elapses.\n"
                      "OnCalendar=2000-01-01 00:00:00 UTC\n";

} // namespace

QString TimerDropIn::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/systemd/user/norvo-scheduled-scan.timer.d/override.conf");
}

QByteArray TimerDropIn::text(const QString& calendarEvent)
{
    QByteArray text(kHeader);
    if (calendarEvent.isEmpty()) {
        return text + kNever;
    }
    return text + "OnCalendar=" + calendarEvent.toUtf8() + '\n';
}

TimerDropIn::Result TimerDropIn::write(const QByteArray& text, QString* error) const
{
    QFile current(m_path);
    if (current.open(QIODevice::ReadOnly) && current.readAll() == text) {
        return Result::Unchanged;
    }
    current.close();
    if (!QDir().mkpath(QFileInfo(m_path).path())) {
        *error = QStringLiteral("cannot make the folder \"%1\"").arg(QFileInfo(m_path).path());
        return Result::Failed;
    }
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        *error = QStringLiteral("cannot write \"%1\": %2").arg(m_path, file.errorString());
        return Result::Failed;
    }
    return Result::Written;
}
