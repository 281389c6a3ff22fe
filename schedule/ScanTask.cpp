#include "ScanTask.h"

#include "EscapedName.h"
#include "Settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaEnum>
#include <QVariantMap>
#include <optional>

namespace {

const char* const kBuiltInSystemPaths[] = {
    "/bin",
    "/sbin",
    "/usr/bin",
    "/usr/sbin",
    "/usr/local/bin",
    "/usr/local/sbin",
    "/lib",
    "/usr/lib",
    "/usr/local/lib",
    "/opt",
    "/boot",
    "/lib32",
    "/lib64",
    "/usr/lib32",
    "/usr/lib64",
    "/usr/local/lib32",
    "/usr/local/lib64",
};

const QMetaEnum& scanTypeEnum()
{
    static const QMetaEnum e = QMetaEnum::fromType<ScanTask::ScanType>();
    return e;
}

const QMetaEnum& itemTypeEnum()
{
    static const QMetaEnum e = QMetaEnum::fromType<ScanTask::ItemType>();
    return e;
}

QString toName(const QMetaEnum& e, int value)
{
    const char* key = e.valueToKey(value);
    return key ? QString::fromLatin1(key) : QString();
}

int fromName(const QMetaEnum& e, const QString& name)
{
    return e.keyToValue(name.toUtf8().constData());
}

// A map as the front-end stores it; the empty text of a key never set reads as an empty map.
// Anything else is a value the front-end did not write, or one that could not be decoded.
std::optional<QVariantMap> mapOf(const QVariant& value)
{
    if (value.typeId() == QMetaType::QVariantMap) {
        return value.toMap();
    }
    if (value.typeId() == QMetaType::QString && value.toString().isEmpty()) {
        return QVariantMap();
    }
    return std::nullopt;
}

bool isSelected(const QVariantMap& selection, ScanTask::ItemType item)
{
    return selection.value(ScanTask::itemTypeToString(item), false).toBool();
}

} // namespace

ScanTask::ScanTask(ScanType type) : m_scanType(type)
{
    completeByType();
}

ScanTask::ScanTask(ScanType type, const QStringList& paths, bool scanMbr, bool scanRunningProcesses)
    : m_scanType(type), m_paths(resolveSymLinks(paths)), m_scanMbr(scanMbr),
      m_scanRunningProcesses(scanRunningProcesses)
{
    completeByType();
}

void ScanTask::completeByType()
{
    switch (m_scanType) {
    case FullScan:
        addFullTargets();
        break;
    case ScheduledScan:
        applySchedule();
        break;
    case ExpressScan:
        addExpressTargets();
        break;
    case CustomScan:
    case UnknownScan:
        break;
    }
}

void ScanTask::addFullTargets()
{
    m_paths << QStringLiteral("/");
    m_scanMbr = true;
    m_scanRunningProcesses = true;
}

void ScanTask::addExpressTargets()
{
    m_paths << systemPaths() << userPaths();
    m_scanMbr = true;
    m_scanRunningProcesses = true;
}

void ScanTask::applySchedule()
{
    m_problem = Settings::fileProblem();
    if (!m_problem.isEmpty()) {
        return;
    }
    const Settings& settings = Settings::instance();
    const QString named =
        QStringLiteral("\"%1\"").arg(escapedName(QFile::encodeName(settings.fileName())));
    const QString typeName = settings.value(Settings::ScheduleScanType, Settings::Scan).toString();
    switch (scanTypeFromString(typeName)) {
    case FullScan:
        addFullTargets();
        return;
    case CustomScan:
        applyCustomSchedule(named);
        return;
    case ExpressScan:
        addExpressTargets();
        return;
    default:
        qWarning("Scan task by shedule: Unrecognized scan type");
        m_problem = QStringLiteral("the schedule in %1 names an unknown scan type \"%2\"")
                        .arg(named, escapedName(typeName));
        return;
    }
}

void ScanTask::applyCustomSchedule(const QString& named)
{
    const Settings& settings = Settings::instance();
    std::optional<QVariantMap> maps[2];
    const Settings::Key keys[2] = {Settings::SchedulePersistentPaths,
                                   Settings::ScheduleCustomPaths};
    for (int place = 0; place < 2; ++place) {
        maps[place] = mapOf(settings.value(keys[place], Settings::Scan));
        if (!maps[place]) {
            m_problem = QStringLiteral("the schedule's %1 in %2 cannot be decoded")
                            .arg(settings.keyPath(Settings::Scan, keys[place]), named);
            return;
        }
    }
    const QVariantMap& selection = *maps[0];
    if (isSelected(selection, MBR)) {
        m_scanMbr = true;
    }
    if (isSelected(selection, User)) {
        m_paths << userPaths();
    }
    if (isSelected(selection, System)) {
        m_paths << systemPaths();
    }
    if (isSelected(selection, RunningProcesses)) {
        m_scanRunningProcesses = true;
    }
    // QVariantMap iterates in ascending key order, which is the order paths are sent in.
    const QVariantMap& custom = *maps[1];
    for (auto it = custom.cbegin(); it != custom.cend(); ++it) {
        if (it.value().toBool()) {
            m_paths << it.key();
        }
    }
    if (m_paths.isEmpty() && !m_scanMbr && !m_scanRunningProcesses) {
        m_problem = QStringLiteral("the schedule in %1 selects nothing to scan").arg(named);
    }
}

QStringList ScanTask::systemPaths()
{
    QStringList paths;
    for (const char* path : kBuiltInSystemPaths) {
        paths << QString::fromLatin1(path);
    }
    // Only absolute entries of PATH are scan roots: an empty or relative entry would name the
    // daemon's own working directory, not anything of the user's.
    const QStringList entries = QFile::decodeName(qgetenv("PATH")).split(QLatin1Char(':'));
    for (const QString& entry : entries) {
        if (QDir::isAbsolutePath(entry)) {
            paths << entry;
        }
    }
    paths.removeDuplicates();
    return paths;
}

QStringList ScanTask::userPaths()
{
    return {QDir::home().absolutePath(), QStringLiteral("/var/mail"), QStringLiteral("/tmp"),
            QStringLiteral("/var/tmp")};
}

QStringList ScanTask::resolveSymLinks(const QStringList& paths)
{
    QStringList resolved;
    resolved.reserve(paths.size());
    for (const QString& path : paths) {
        const QFileInfo info(path);
        resolved << (info.isSymLink() ? info.symLinkTarget() : path);
    }
    return resolved;
}

QString ScanTask::scanTypeToString(int value)
{
    return toName(scanTypeEnum(), value);
}

QString ScanTask::itemTypeToString(int value)
{
    return toName(itemTypeEnum(), value);
}

int ScanTask::scanTypeFromString(const QString& name)
{
    return fromName(scanTypeEnum(), name);
}

int ScanTask::itemTypeFromString(const QString& name)
{
    return fromName(itemTypeEnum(), name);
}
