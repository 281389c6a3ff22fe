// Writes the schedule's when into the settings file as the desktop front-end does: through
// QSettings, native format, "norvo"/"norvo-gui", the time as a QTime and the days as a list of
// integers. With --window, only the window's place, as the front-end saves it on exit.
//
// Usage: norvo-frontend-settings on HH:MM DAY[,DAY...] | off | --window X,Y

#include <QCoreApplication>
#include <QPoint>
#include <QSettings>
#include <QTime>
#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("norvo"));
    QCoreApplication::setApplicationName(QStringLiteral("norvo-gui"));
    const QStringList args = QCoreApplication::arguments().mid(1);
    QSettings settings;
    if (args.size() == 2 && args[0] == QLatin1String("--window")) {
        const QStringList xy = args[1].split(QLatin1Char(','));
        settings.setValue(QStringLiteral("General/Pos"),
                          QPoint(xy.value(0).toInt(), xy.value(1).toInt()));
    } else if (args.size() == 1 && args[0] == QLatin1String("off")) {
        settings.setValue(QStringLiteral("Scan/HasSchedule"), false);
    } else if (args.size() == 3 && args[0] == QLatin1String("on")) {
        QVariantList days;
        for (const QString& day : args[2].split(QLatin1Char(','))) {
            days << day.toInt();
        }
        settings.setValue(QStringLiteral("Scan/HasSchedule"), true);
        settings.setValue(QStringLiteral("Scan/ScheduleTime"),
                          QTime::fromString(args[1], QStringLiteral("HH:mm")));
        settings.setValue(QStringLiteral("Scan/ScheduleDays"), days);
    } else {
        std::fputs("usage: norvo-frontend-settings on HH:MM DAY[,DAY...] | off | --window X,Y\n",
                   stderr);
        return 2;
    }
    settings.sync();
    return settings.status() == QSettings::NoError ? 0 : 1;
}
