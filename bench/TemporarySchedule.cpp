#include "TemporarySchedule.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QVariantMap>

namespace {

const char* const kConfigHome = "config";
const char* const kStateHome = "state";
const char* const kNoBus = "no-bus";
// The front-end's settings file under the configuration home.
const char* const kSettingsFile = "config/norvo/norvo-gui.conf";
const char* const kTmpfs = "/dev/shm";
const char* const kRuntimePattern = "/norvo-bench-runtime-XXXXXX";

QString runtimeTemplate()
{
    const QFileInfo tmpfs{QLatin1String(kTmpfs)};
    const QString parent =
        tmpfs.isDir() && tmpfs.isWritable() ? tmpfs.filePath() : QDir::tempPath();
    return parent + QLatin1String(kRuntimePattern);
}

} // namespace

TemporarySchedule::TemporarySchedule() : m_runtime(runtimeTemplate())
{
    const QDir root(m_dir.path());
    m_valid = m_dir.isValid() && m_runtime.isValid() && root.mkdir(QLatin1String(kTarget));
    QSettings settings(root.filePath(QLatin1String(kSettingsFile)), QSettings::IniFormat);
    settings.setValue(QStringLiteral("Scan/ScheduleScanType"), QStringLiteral("CustomScan"));
    settings.setValue(QStringLiteral("Scan/SchedulePersistentPaths"), QVariantMap());
    settings.setValue(QStringLiteral("Scan/ScheduleCustomPaths"),
                      QVariantMap{{QString::fromStdString(target()), true}});
    settings.sync();
    m_valid = m_valid && settings.status() == QSettings::NoError;
}

std::string TemporarySchedule::path(const char* name) const
{
    return QDir(m_dir.path()).filePath(QLatin1String(name)).toStdString();
}

std::vector<std::string> TemporarySchedule::environment() const
{
    // The run's result file goes to the schedule's own folder, never to the user's, and its
    // notification to a bus that is not there, never to the user's desktop.
    return {"NRV_PUBLIC_SOCKET=" + configdSocket(), "XDG_CONFIG_HOME=" + path(kConfigHome),
            "XDG_STATE_HOME=" + path(kStateHome),
            "XDG_RUNTIME_DIR=" + m_runtime.path().toStdString(),
            "DBUS_SESSION_BUS_ADDRESS=unix:path=" + path(kNoBus)};
}
