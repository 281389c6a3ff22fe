#include "RunOptions.h"

#include "Duration.h"

#include <QCommandLineParser>
#include <QFile>
#include <cstdio>

namespace {

void printTo(FILE* stream, const QString& text)
{
    std::fputs(qPrintable(text), stream);
}

// Paths are kept as the command line's bytes: decoded text may have lost what a file name held.
QByteArrayList rawPositionals(const QStringList& positionals, const QByteArrayList& raw)
{
    QByteArrayList out;
    qsizetype next = 1; // past the program's name
    for (const QString& positional : positionals) {
        while (next < raw.size() && QFile::decodeName(raw[next]) != positional) {
            ++next;
        }
        out << (next < raw.size() ? raw[next++] : QFile::encodeName(positional));
    }
    return out;
}

} // namespace

RunOptions RunOptions::parse(const QStringList& arguments, const QByteArrayList& raw)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Starts the scheduled anti-virus scan: asks the suite's configuration daemon for the\n"
        "configuration and the file-check daemon's socket, and has the file-check daemon scan\n"
        "what the schedule in the front-end's settings names."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption exitStatus(
        QStringLiteral("exit-status"),
        QStringLiteral("Exit with 1 when threats were found and 2 when the scan could not start "
                       "or did not finish (default: 0 always)."));
    const QCommandLineOption ifIncomplete(
        QStringLiteral("if-incomplete"),
        QStringLiteral("Scan only when the latest run did not complete its scan."));
    const QCommandLineOption ifScheduled(
        QStringLiteral("if-scheduled"),
        QStringLiteral("Scan only when the front-end's schedule is on."));
    const QCommandLineOption waitForDaemons(
        QStringLiteral("wait-for-daemons"),
        QStringLiteral("Wait up to <seconds> for daemons that are not listening yet (default 0)."),
        QStringLiteral("seconds"));
    const QCommandLineOption deferOnBattery(
        QStringLiteral("defer-on-battery"),
        QStringLiteral("On battery, wait up to <duration> (such as 2h or 90min) for mains power "
                       "before scanning (default 0)."),
        QStringLiteral("duration"));
    const QCommandLineOption showSchedule(
        QStringLiteral("show-schedule"),
        QStringLiteral("Show what a scheduled run scans, and exit."));
    const QCommandLineOption setSchedule(
        QStringLiteral("set-schedule"),
        QStringLiteral("Store a new schedule: express, full, or custom with the --include "
                       "options and [path...], at the --at time on the --days; or off. Then "
                       "show it."),
        QStringLiteral("type"));
    const QCommandLineOption at(QStringLiteral("at"),
                                QStringLiteral("With --set-schedule: the time of day, HH:MM."),
                                QStringLiteral("time"));
    const QCommandLineOption days(
        QStringLiteral("days"),
        QStringLiteral("With --set-schedule: the days, as mon,wed,... or daily or weekdays."),
        QStringLiteral("list"));
    const QCommandLineOption syncTimer(
        QStringLiteral("sync-timer"),
        QStringLiteral("Set the systemd user timer to the schedule's days and time, and exit."));
    const QList<QPair<QCommandLineOption, ScanTask::ItemType>> includes{
        {QCommandLineOption(
             QStringLiteral("include-user"),
             QStringLiteral("Custom schedule: the home folder, mail, /tmp and /var/tmp.")),
         ScanTask::User},
        {QCommandLineOption(QStringLiteral("include-system"),
                            QStringLiteral("Custom schedule: the system folders.")),
         ScanTask::System},
        {QCommandLineOption(QStringLiteral("include-boot-records"),
                            QStringLiteral("Custom schedule: the disks' boot records.")),
         ScanTask::MBR},
        {QCommandLineOption(QStringLiteral("include-processes"),
                            QStringLiteral("Custom schedule: the running processes.")),
         ScanTask::RunningProcesses},
    };
    parser.addOptions({exitStatus, ifIncomplete, ifScheduled, waitForDaemons, deferOnBattery,
                       showSchedule, setSchedule, at, days, syncTimer});
    for (const auto& [option, item] : includes) {
        parser.addOption(option);
    }
    parser.addPositionalArgument(QStringLiteral("path"),
                                 QStringLiteral("With --set-schedule custom: a path to scan."),
                                 QStringLiteral("[path...]"));

    RunOptions options;
    const auto usageError = [&options](const QString& message) {
        printTo(stderr, QStringLiteral("norvo-scheduled-scan: %1\nTry 'norvo-scheduled-scan "
                                       "--help' for more information.\n")
                            .arg(message));
        options.action = Action::Exit;
        options.exitCode = kUsageError;
        return options;
    };
    if (!parser.parse(arguments)) {
        return usageError(parser.errorText());
    }
    if (parser.isSet(help)) {
        printTo(stdout, parser.helpText());
        options.action = Action::Exit;
        return options;
    }
    if (parser.isSet(version)) {
        printTo(stdout,
                QStringLiteral("norvo-scheduled-scan %1\n").arg(QStringLiteral(NORVO_VERSION)));
        options.action = Action::Exit;
        return options;
    }
    // A value given twice would keep the last one: the first was meant for something.
    for (const QString& name : parser.optionNames()) {
        if (parser.values(name).size() > 1) {
            return usageError(QStringLiteral("--%1 is given more than once").arg(name));
        }
    }
    // The commands exclude each other, and a command has no use for the options of a scan.
    QStringList commands;
    for (const QCommandLineOption& command : {showSchedule, setSchedule, syncTimer}) {
        if (parser.isSet(command)) {
            commands << QStringLiteral("--") + command.names().constFirst();
        }
    }
    if (commands.size() > 1) {
        return usageError(
            QStringLiteral("%1 and %2 exclude each other").arg(commands[0], commands[1]));
    }
    if (!commands.isEmpty()) {
        for (const QCommandLineOption& option :
             {exitStatus, ifIncomplete, ifScheduled, waitForDaemons, deferOnBattery}) {
            if (parser.isSet(option)) {
                return usageError(QStringLiteral("--%1 goes with a scan, not with %2")
                                      .arg(option.names().constFirst(), commands[0]));
            }
        }
    }
    // From a script an unset variable gives an empty word, which would schedule the current
    // folder or, from a service, "/".
    if (parser.positionalArguments().contains(QString())) {
        return usageError(QStringLiteral("an empty path names no file"));
    }
    options.exitStatus = parser.isSet(exitStatus);
    options.ifIncomplete = parser.isSet(ifIncomplete);
    options.ifScheduled = parser.isSet(ifScheduled);
    if (parser.isSet(waitForDaemons)) {
        const std::optional<qint64> ms = Duration::parseSecondsMs(parser.value(waitForDaemons));
        if (!ms) {
            return usageError(QStringLiteral("--wait-for-daemons takes a number of seconds"));
        }
        if (*ms > Duration::kMaxMs) {
            return usageError(QStringLiteral("--wait-for-daemons takes at most %1 seconds (a week)")
                                  .arg(Duration::kMaxMs / 1000));
        }
        options.waitForDaemonsMs = *ms;
    }
    if (parser.isSet(deferOnBattery)) {
        const std::optional<qint64> ms = Duration::parseMs(parser.value(deferOnBattery));
        if (!ms) {
            return usageError(QStringLiteral("--defer-on-battery takes a duration such as 2h, "
                                             "90min or 45s"));
        }
        if (*ms > Duration::kMaxMs) {
            return usageError(QStringLiteral("--defer-on-battery takes at most %1 (a week)")
                                  .arg(Duration::text(Duration::kMaxMs)));
        }
        options.deferOnBatteryMs = *ms;
    }
    for (const auto& [option, item] : includes) {
        if (parser.isSet(option)) {
            options.scheduleItems << item;
        }
    }
    if (parser.isSet(showSchedule)) {
        options.action = Action::ShowSchedule;
    } else if (parser.isSet(setSchedule)) {
        options.action = Action::SetSchedule;
        options.scheduleType = parser.value(setSchedule);
        options.schedulePaths = rawPositionals(parser.positionalArguments(), raw);
        options.scheduleAt = parser.value(at);
        options.scheduleDays = parser.value(days);
    } else if (parser.isSet(syncTimer)) {
        options.action = Action::SyncTimer;
    }
    if (options.action != Action::SetSchedule &&
        (!parser.positionalArguments().isEmpty() || !options.scheduleItems.isEmpty())) {
        return usageError(QStringLiteral("paths and --include options go with --set-schedule"));
    }
    if (options.action != Action::SetSchedule && (parser.isSet(at) || parser.isSet(days))) {
        return usageError(QStringLiteral("--at and --days go with --set-schedule"));
    }
    return options;
}
