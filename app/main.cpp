#include "BatteryWait.h"
#include "ConnectionManager.h"
#include "DesktopNotifier.h"
#include "Inventory.h"
#include "JournalLog.h"
#include "ResultFile.h"
#include "RunLock.h"
#include "RunOptions.h"
#include "ScanSchedule.h"
#include "ScheduleCommand.h"
#include "Settings.h"
#include "SignalWatcher.h"
#include "SystemdTimer.h"

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

// With --if-scheduled: whether the front-end's schedule is on. Writes the line that says why not.
bool scheduleIsOn()
{
    if (ScanSchedule::read(Settings::instance()).isOn()) {
        return true;
    }
    qInfo().noquote() << QStringLiteral("Scheduled scan not needed: the schedule is off");
    return false;
}

// The commands for a person at a terminal, and for the timer's sync service.
int runScheduleCommand(const RunOptions& options, QTextStream& out, QTextStream& err)
{
    const SystemdTimer timer;
    const ScheduleCommand command(timer);
    switch (options.action) {
    case RunOptions::Action::ShowSchedule:
        return command.show(out, err);
    case RunOptions::Action::SetSchedule:
        return command.set(options.scheduleType, options.scheduleItems, options.schedulePaths,
                           options.scheduleAt, options.scheduleDays, out, err);
    case RunOptions::Action::SyncTimer:
        return command.syncTimer(out, err);
    case RunOptions::Action::Scan:
    case RunOptions::Action::Exit:
        break;
    }
    return options.exitCode;
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
    case RunOptions::Action::SetSchedule:
    case RunOptions::Action::SyncTimer:
        return runScheduleCommand(options, out, err);
    case RunOptions::Action::Scan:
        break;
    }

    // From here on a stop signal ends the run in order instead of killing it.
    SignalWatcher stopSignals({SIGTERM, SIGINT, SIGHUP});
    RunLock lock;
    if (!lock.acquire()) {
        return 0;
    }
    if (options.ifScheduled && !scheduleIsOn()) {
        return 0;
    }
    if (options.ifIncomplete && !lastScanIncomplete()) {
        return 0;
    }

    ConnectionManager manager;
    QObject::connect(&manager, &ConnectionManager::finished, &app, &QCoreApplication::quit);
    manager.watchStopSignals(&stopSignals);
    manager.setDaemonWait(options.waitForDaemonsS * 1000);
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
