#include "SystemdTimer.h"

#include <QProcess>

namespace {

const char kTimerUnit[] = "norvo-scheduled-scan.timer";
// The answer comes from a local manager at once or not at all; a show must not hang on it.
constexpr int kAnswerMs = 3000;

} // namespace

QString SystemdTimer::nextElapse()
{
    QProcess systemctl;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // Column widths are counted in characters; C keeps every character one byte wide.
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    systemctl.setProcessEnvironment(environment);
    systemctl.start(QStringLiteral("systemctl"),
                    {QStringLiteral("--user"), QStringLiteral("--no-pager"),
                     QStringLiteral("list-timers"), QStringLiteral("--all"),
                     QString::fromLatin1(kTimerUnit)});
    if (!systemctl.waitForFinished(kAnswerMs)) {
        systemctl.kill();
        systemctl.waitForFinished();
        return QString();
    }
    if (systemctl.exitStatus() != QProcess::NormalExit || systemctl.exitCode() != 0) {
        return QString();
    }
    return nextElapseFromListing(QString::fromLocal8Bit(systemctl.readAllStandardOutput()));
}

QString SystemdTimer::nextElapseFromListing(const QString& listing)
{
    const QStringList lines = listing.split(QLatin1Char('\n'));
    const QString header = lines.value(0);
    const qsizetype nextEnd = header.indexOf(QLatin1String("LEFT"));
    const qsizetype unitStart = header.indexOf(QLatin1String("UNIT"));
    if (!header.startsWith(QLatin1String("NEXT")) || nextEnd < 0 || unitStart < 0) {
        return QString();
    }
    for (const QString& line : lines.mid(1)) {
        if (line.mid(unitStart).section(QLatin1Char(' '), 0, 0) != QLatin1String(kTimerUnit)) {
            continue;
        }
        const QString next = line.left(nextEnd).trimmed();
        // An inactive timer has no next time: older managers say n/a, newer ones "-".
        if (next == QLatin1String("-") || next == QLatin1String("n/a")) {
            return QString();
        }
        return next;
    }
    return QString();
}
