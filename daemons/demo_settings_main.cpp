// Writes the schedule of a custom scan of the given paths into the front-end's local settings,
// as the front-end would, so that a scheduled run can be shown without the front-end.

#include "ScanTask.h"
#include "Settings.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QVariantMap>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    // The names that select the front-end's settings file.
    QCoreApplication::setOrganizationName(QStringLiteral("norvo"));
    QCoreApplication::setApplicationName(QStringLiteral("norvo-gui"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Stores a scheduled custom scan of <path>... in the front-end's local settings\n"
        "(Qt settings of \"norvo\"/\"norvo-gui\", so under $XDG_CONFIG_HOME/norvo/)."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("path"), QStringLiteral("A path to scan."),
                                 QStringLiteral("<path>..."));
    parser.process(app);
    const QStringList paths = parser.positionalArguments();
    if (paths.isEmpty()) {
        parser.showHelp(2);
    }

    // Only the custom paths: no boot records, system or user folders, or processes.
    QVariantMap persistent;
    for (ScanTask::ItemType item :
         {ScanTask::MBR, ScanTask::System, ScanTask::User, ScanTask::RunningProcesses}) {
        persistent.insert(ScanTask::itemTypeToString(item), false);
    }
    QVariantMap custom;
    for (const QString& path : paths) {
        custom.insert(QFileInfo(path).absoluteFilePath(), true);
    }
    Settings& settings = Settings::instance();
    settings.setValue(ScanTask::scanTypeToString(ScanTask::CustomScan), Settings::ScheduleScanType,
                      Settings::Scan);
    settings.setValue(persistent, Settings::SchedulePersistentPaths, Settings::Scan);
    settings.setValue(custom, Settings::ScheduleCustomPaths, Settings::Scan);
    return 0;
}
