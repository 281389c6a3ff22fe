#include "BatteryWait.h"
#include "ConnectionManager.h"
#include "DesktopNotifier.h"
#include "Inventory.h"
#include "JournalLog.h"
#include "ResultFile.h"
#include "RunLock.h"
#include "RunOptions.h"
#include "ScheduleCommand.h"
#include "SignalWatcher.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QLoggingCategory>
#include <QTextStream>
#include <csignal>

namespace {

// With --if-incomplete: whether the latest run left its scan unfinished. Writes the line that
// says why not.
bool lastScanIncomplete()
{
    const std::optional<ResultFile::Previous> previous =
        ResultFile(ResultFile::defaultPath()).read();
    using Outcome = RunReport::Outcome;
    if (!previous || !previous->lastCompleted.isValid() ||
        (previous->outcome != Outcome::Finished && previous->outcome != Outcome::Forbidden)) {
        return true;
    }
    qInfo().noquote() << QStringLiteral("Scheduled scan not needed: the last scan completed at %1")
                             .arg(previous->lastCompleted.toString(Qt::ISODate));
    return false;
}

// The run's end as the user sees it, away from the journal.
void tellTheUser(const RunReport& report)
{
    const Inventory& inventory = *Inventory::instance();
    const nv::LinuxGUIConfig config = inventory.config();
    DesktopNotifier::Preferences preferences;
    preferences.configured = inventory.hasConfig();
    preferences.showNotifications = config.show_notifications();
    preferences.playSound = config.play_sound();
    DesktopNotifier().notify(report, preferences);
    ResultFile(ResultFile::defaultPath()).write(report);
}

} // namespace

int main(int argc, char* argv[])
{
    const QByteArrayList rawArguments(argv, argv + argc);
    QCoreApplication app(argc, argv);
    // These names also select the front-end's settings file that holds the schedule.
    QCoreApplication::setOrganizationName(QStringLiteral("norvo"));
    QCoreApplication::setApplicationName(QStringLiteral("norvo-gui"));
    JournalLog::install();

    const RunOptions options = RunOptions::parse(QCoreApplication::arguments(), rawArguments);
    QTextStream out(stdout);
    QTextStream err(stderr);
    if (options.action != RunOptions::Action::Scan) {
        // A person at a terminal reads the answer, not the trace of the settings store.
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    }
    switch (options.action) {
    case RunOptions::Action::Exit:
        return options.exitCode;
    case RunOptions::Action::ShowSchedule:
        return ScheduleCommand().show(out, err);
    case RunOptions::Action::SetSchedule:
        return ScheduleCommand().set(options.scheduleType, options.scheduleItems,
                                     options.schedulePaths, out, err);
    case RunOptions::Action::Scan:
        break;
    }

    // From here on a stop signal ends the run in order instead of killing it.
    SignalWatcher stopSignals({SIGTERM, SIGINT, SIGHUP});
    RunLock lock;
    if (!lock.acquire()) {
        return 0;
    }
    if (options.ifIncomplete && !lastScanIncomplete()) {
        return 0;
    }

    ConnectionManager manager;
    QObject::connect(&manager, &ConnectionManager::finished, &app, &QCoreApplication::quit);
    manager.watchStopSignals(&stopSignals);
    manager.setDaemonWait(options.waitForDaemonsMs);
    // A laptop on battery waits for mains power first; a stop during that wait ends the run
    // through the manager like any other.
    BatteryWait batteryWait(options.deferOnBatteryMs > 0 ? QDBusConnection::systemBus()
                                                         : QDBusConnection(QString()),
                            options.deferOnBatteryMs);
    QObject::connect(&stopSignals, &SignalWatcher::received, &batteryWait, &BatteryWait::cancel);
    // Queued, so that the start-up runs inside the event loop even when there is no wait: its
    // end then quits the loop on every path.
    QObject::connect(
        &batteryWait, &BatteryWait::finished, &manager,
        [&manager] {
            if (manager.initialize()) {
                manager.scan();
            }
        },
        Qt::QueuedConnection);
    batteryWait.start();
    QCoreApplication::exec();
    tellTheUser(manager.report());
    return manager.report().exitStatus(options.exitStatus);
}
