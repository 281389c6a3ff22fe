#include "ScheduleCommand.h"

#include "Settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <QVariantMap>
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

const char* yesNo(bool value)
{
    return value ? "yes" : "no";
}

// QSettings reads a file it cannot open as an empty one, and would then write only its own keys
// over everything the front-end keeps there.
bool isReadable(const QString& fileName, QTextStream& err)
{
    QFile file(fileName);
    if (file.exists() && !file.open(QIODevice::ReadOnly)) {
        err << "Cannot read the settings file \"" << fileName << "\"\n";
        return false;
    }
    return true;
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

ScheduleCommand::ScheduleCommand(NextRunLookup nextRun) : m_nextRun(std::move(nextRun)) {}

int ScheduleCommand::show(QTextStream& out, QTextStream& err) const
{
    const Settings& settings = Settings::instance();
    if (!isReadable(settings.fileName(), err)) {
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
    out << "Boot records: " << yesNo(task.scanMbr()) << '\n';
    out << "Running processes: " << yesNo(task.scanRunningProcesses()) << '\n';
    out << "Settings file: " << settings.fileName();
    if (!QFileInfo::exists(settings.fileName())) {
        out << " (absent, so the defaults)";
    }
    out << '\n';
    if (const QString next = m_nextRun(); !next.isEmpty()) {
        out << "Next run: " << next << '\n';
    }
    return kOk;
}

int ScheduleCommand::set(const QString& type, const QList<ScanTask::ItemType>& items,
                         const QByteArrayList& rawPaths, QTextStream& out, QTextStream& err) const
{
    const std::optional<ScanTask::ScanType> scanType = scanTypeOf(type);
    if (!scanType) {
        err << "Unknown schedule type \"" << type << "\": use express, full or custom\n";
        return kFailed;
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
    Settings& settings = Settings::instance();
    if (!paths || !isReadable(settings.fileName(), err)) {
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
    if (settings.sync() != QSettings::NoError) {
        err << "Cannot write the settings file \"" << settings.fileName() << "\"\n";
        return kFailed;
    }
    return show(out, err);
}
