#include "ScheduleCommand.h"

#include "ScanSchedule.h"
#include "Settings.h"
#include "TimerSync.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTextStream>
#include <QVariantMap>
#include <algorithm>
#include <optional>

namespace {

const ScanTask::ItemType kSelectableItems[] = {ScanTask::MBR, ScanTask::System, ScanTask::User,
                                               ScanTask::RunningProcesses};

std::optional<ScanTask::ScanType> scanTypeOf(const QString& name)
{
    if (name == QLatin1String("express")) {
        return ScanTask::ExpressScan;
    }
    if (name == QLatin1String("full")) {
        return ScanTask::FullScan;
    }
    if (name == QLatin1String("custom")) {
        return ScanTask::CustomScan;
    }
    return std::nullopt;
}

const char kOff[] = "off";
// A front-end that saves without pause cannot keep the sync busy for ever.
constexpr int kSyncRounds = 5;
const char kDaysHelp[] = "use mon, tue, wed, thu, fri, sat and sun, daily or weekdays";

// Qt's day numbers, 1 Monday to 7 Sunday, of a --days list.
std::optional<QVariantList> daysOf(const QString& list, QTextStream& err)
{
    const QString trimmed = list.trimmed().toLower();
    if (trimmed == QLatin1String("daily")) {
        return QVariantList{1, 2, 3, 4, 5, 6, 7};
    }
    if (trimmed == QLatin1String("weekdays")) {
        return QVariantList{1, 2, 3, 4, 5};
    }
    QVariantList days;
    for (const QString& name : trimmed.split(QLatin1Char(','))) {
        int day = 1;
        while (day <= 7 &&
               QLocale::c().dayName(day, QLocale::ShortFormat).toLower() != name.trimmed()) {
            ++day;
        }
        if (day > 7) {
            err << "Unknown day \"" << name.trimmed() << "\" in --days: " << kDaysHelp << '\n';
            return std::nullopt;
        }
        if (!days.contains(day)) {
            days << day;
        }
    }
    std::sort(days.begin(), days.end(),
              [](const QVariant& a, const QVariant& b) { return a.toInt() < b.toInt(); });
    return days;
}

QString formatted(const QDateTime& time)
{
    return QLocale::c().toString(time.toLocalTime(), QStringLiteral("ddd yyyy-MM-dd HH:mm:ss t"));
}

const char* yesNo(bool value)
{
    return value ? "yes" : "no";
}

// QSettings reads a file it cannot open as an empty one, and would then write only its own keys
// over everything the front-end keeps there. The store has one check of its file for the run
// and these commands alike.
bool isUsable(QTextStream& err)
{
    QString problem = Settings::fileProblem();
    if (problem.isEmpty()) {
        return true;
    }
    problem[0] = problem.at(0).toUpper();
    err << problem << '\n';
    return false;
}

// Paths travel as text in the settings and back to bytes in the scan request; a name that does
// not survive that trip would schedule another file than the one given.
std::optional<QStringList> absolutePaths(const QByteArrayList& rawPaths, QTextStream& err)
{
    QStringList paths;
    for (const QByteArray& raw : rawPaths) {
        const QString path = QFile::decodeName(raw);
        if (QFile::encodeName(path) != raw) {
            err << "Cannot schedule \"" << path
                << "\": the name is not valid UTF-8, and the schedule keeps names as text\n";
            return std::nullopt;
        }
        paths << QDir::cleanPath(QDir::current().absoluteFilePath(path));
    }
    return paths;
}

} // namespace

ScheduleCommand::ScheduleCommand(const SystemdTimer& timer, TimerDropIn dropIn)
    : m_timer(timer), m_dropIn(std::move(dropIn))
{
}

int ScheduleCommand::show(QTextStream& out, QTextStream& err) const
{
    const Settings& settings = Settings::instance();
    if (!isUsable(err)) {
        return kFailed;
    }
    const ScanTask task(ScanTask::ScheduledScan);
    out << "Scan type: " << settings.value(Settings::ScheduleScanType, Settings::Scan).toString()
        << '\n';
    for (const QString& path : task.paths()) {
        out << "Target: " << path << '\n';
    }
    if (task.paths().isEmpty()) {
        out << "Targets: none\n";
    }
    // The system folders take PATH's entries, and a terminal's PATH is not the service's.
    out << "PATH: " << QFile::decodeName(qgetenv("PATH")) << '\n';
    out << "Boot records: " << yesNo(task.scanMbr()) << '\n';
    out << "Running processes: " << yesNo(task.scanRunningProcesses()) << '\n';
    out << "Settings file: " << settings.fileName();
    if (!QFileInfo::exists(settings.fileName())) {
        out << " (absent, so the defaults)";
    }
    out << '\n';
    out << "Runs: " << ScanSchedule::read(settings).description() << '\n';
    out << "Next run: " << nextRunLine() << '\n';
    return kOk;
}

QString ScheduleCommand::nextRunLine() const
{
    const SystemdTimer::Status status = m_timer.status();
    const QString unit = QString::fromLatin1(SystemdTimer::kUnit);
    switch (status.state) {
    case SystemdTimer::Status::Waiting:
        return formatted(status.next);
    case SystemdTimer::Status::NoNextRun:
        return QStringLiteral("none");
    case SystemdTimer::Status::NotEnabled:
        return QStringLiteral("none: %1 is not enabled (systemctl --user enable --now %1)")
            .arg(unit);
    case SystemdTimer::Status::NotRunning:
        return QStringLiteral("none: %1 is not running (systemctl --user start %1)").arg(unit);
    case SystemdTimer::Status::NotInstalled:
        return QStringLiteral("not known: the user service manager has no %1").arg(unit);
    case SystemdTimer::Status::NoManager:
        break;
    }
    QString line = QStringLiteral("not known: no user service manager answers");
    const QDateTime slot =
        ScanSchedule::read(Settings::instance()).nextRun(QDateTime::currentDateTime());
    if (slot.isValid()) {
        line += QStringLiteral("; the schedule's next slot is %1").arg(formatted(slot));
    }
    return line;
}

int ScheduleCommand::set(const QString& type, const QList<ScanTask::ItemType>& items,
                         const QByteArrayList& rawPaths, const QString& at, const QString& days,
                         QTextStream& out, QTextStream& err) const
{
    const bool isOff = type == QLatin1String(kOff);
    const std::optional<ScanTask::ScanType> scanType = scanTypeOf(type);
    if (!scanType && !isOff) {
        err << "Unknown schedule type \"" << type << "\": use express, full, custom or off\n";
        return kFailed;
    }
    if (isOff && (!items.isEmpty() || !rawPaths.isEmpty() || !at.isNull() || !days.isNull())) {
        err << "An off schedule takes no --at, --days, --include options or paths\n";
        return kFailed;
    }
    const QTime time = QTime::fromString(at.trimmed(), QStringLiteral("H:mm"));
    if (!at.isNull() && !time.isValid()) {
        err << "--at takes a time of day as HH:MM, such as 07:30, not \"" << at << "\"\n";
        return kFailed;
    }
    std::optional<QVariantList> dayList;
    if (!days.isNull() && !(dayList = daysOf(days, err))) {
        return kFailed;
    }
    Settings& settings = Settings::instance();
    if (isOff) {
        if (!isUsable(err)) {
            return kFailed;
        }
        // The days and time stay, so that switching the schedule on again brings them back.
        settings.setValue(false, Settings::HasSchedule, Settings::Scan);
        return storeAndShow(out, err);
    }
    const bool isCustom = *scanType == ScanTask::CustomScan;
    const bool hasTargets = !items.isEmpty() || !rawPaths.isEmpty();
    if (!isCustom && hasTargets) {
        err << "Only a custom schedule takes --include options and paths\n";
        return kFailed;
    }
    if (isCustom && !hasTargets) {
        err << "A custom schedule needs an --include option or a path\n";
        return kFailed;
    }
    const std::optional<QStringList> paths = absolutePaths(rawPaths, err);
    if (!paths || !isUsable(err)) {
        return kFailed;
    }

    settings.setValue(ScanTask::scanTypeToString(*scanType), Settings::ScheduleScanType,
                      Settings::Scan);
    // An express or full schedule leaves the custom selection alone, as the front-end does, so
    // that a later custom schedule starts from it.
    if (isCustom) {
        QVariantMap selection;
        for (const ScanTask::ItemType item : kSelectableItems) {
            selection.insert(ScanTask::itemTypeToString(item), items.contains(item));
        }
        QVariantMap custom;
        for (const QString& path : *paths) {
            // A removable disk may be absent now and present when the scan runs.
            if (!QFileInfo::exists(path)) {
                err << "Warning: \"" << path << "\" does not exist now; it stays in the schedule\n";
            }
            custom.insert(path, true);
        }
        settings.setValue(selection, Settings::SchedulePersistentPaths, Settings::Scan);
        settings.setValue(custom, Settings::ScheduleCustomPaths, Settings::Scan);
    }
    settings.setValue(true, Settings::HasSchedule, Settings::Scan);
    if (time.isValid()) {
        settings.setValue(time, Settings::ScheduleTime, Settings::Scan);
    }
    if (dayList) {
        // Integers, as the front-end keeps them.
        settings.setValue(*dayList, Settings::ScheduleDays, Settings::Scan);
    }
    return storeAndShow(out, err);
}

int ScheduleCommand::storeAndShow(QTextStream& out, QTextStream& err) const
{
    Settings& settings = Settings::instance();
    if (settings.sync() != QSettings::NoError) {
        err << "Cannot write the settings file \"" << settings.fileName() << "\"\n";
        return kFailed;
    }
    bool synced = true;
    if (m_timer.status().state == SystemdTimer::Status::NoManager) {
        out << "No user service manager answers: the timer takes the schedule when the manager "
               "next starts\n";
    } else {
        const TimerSync::Result result =
            TimerSync(m_timer, m_dropIn).sync(ScanSchedule::read(settings));
        if (result.ok) {
            out << "Timer set: " << ScanSchedule::read(settings).description() << '\n';
        } else {
            err << result.message << '\n';
        }
        synced = result.ok;
    }
    const int shown = show(out, err);
    return synced ? shown : kFailed;
}

int ScheduleCommand::syncTimer(QTextStream& out, QTextStream& err) const
{
    Settings& settings = Settings::instance();
    const auto saved = [&settings] { return QFileInfo(settings.fileName()).lastModified(); };
    // The watcher starts no second sync for a change saved while this one runs, so this one
    // reads the file again until it stays as it was.
    for (int round = 1;; ++round) {
        const QDateTime before = saved();
        if (!isUsable(err)) {
            return kFailed;
        }
        const TimerSync::Result result =
            TimerSync(m_timer, m_dropIn).sync(ScanSchedule::read(settings));
        (result.ok ? out : err) << result.message << '\n';
        if (!result.ok) {
            return kFailed;
        }
        if (saved() == before || round == kSyncRounds) {
            return kOk;
        }
        settings.sync();
    }
}
