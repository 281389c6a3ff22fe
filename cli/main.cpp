#include "BatteryGate.h"
#include "ConnectionManager.h"
#include "DesktopNotifier.h"
#include "IncompleteGate.h"
#include "JournalLog.h"
#include "LockGate.h"
#include "ResultFile.h"
#include "RunGates.h"
#include "RunOptions.h"
#include "ScheduleCommand.h"
#include "ScheduleGate.h"
#include "SignalWatcher.h"
#include "SystemdTimer.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QLoggingCategory>
#include <QTextStream>
#include <csignal>
#include <memory>

namespace {

// Everything that may keep this run from scanning, in the order they are asked.
void addGates(RunGates& gates, const RunOptions& options)
{
    gates.append(std::make_unique<LockGate>());
    if (options.ifScheduled) {
        gates.append(std::make_unique<ScheduleGate>());
    }
    if (options.ifIncomplete) {
        gates.append(std::make_unique<IncompleteGate>(ResultFile::defaultPath()));
    }
    if (options.deferOnBatteryMs > 0) {
        // A laptop on battery waits for mains power.
        gates.append(
            std::make_unique<BatteryGate>(QDBusConnection::systemBus(), options.deferOnBatteryMs));
    }
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

} // namespace

int main(int argc, char* argv[])
{
    // Before anything else: a stop signal in the first moments of a run must end it in order,
    // with its line, not kill it; and the signals stay caught until the process has exited, so
    // that however many arrive the exit status is the one the run decided.
    SignalWatcher stopSignals({SIGTERM, SIGINT, SIGHUP});
    const QByteArrayList rawArguments(argv, argv + argc);
    QCoreApplication app(argc, argv);
    // These names also select the front-end's settings file that holds the schedule.
    QCoreApplication::setOrganizationName(QStringLiteral("norvo"));
    QCoreApplication::setApplicationName(QStringLiteral("norvo-gui"));
    stopSignals.startDelivery();
    JournalLog::install();

    const RunOptions options = RunOptions::parse(QCoreApplication::arguments(), rawArguments);
    QTextStream out(stdout);
    QTextStream err(stderr);
    if (options.action != RunOptions::Action::Scan) {
        // A command, not a run: a signal ends it as it would end any command.
        stopSignals.release();
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

    ConnectionManager manager;
    QObject::connect(&manager, &ConnectionManager::finished, &app, &QCoreApplication::quit);
    manager.watchStopSignals(&stopSignals);
    manager.setDaemonWait(options.waitForDaemonsMs);
    // Where the report goes, in this order, before the run's closing line.
    ResultFile resultFile(ResultFile::defaultPath());
    DesktopNotifier notifier;
    manager.addSink(&resultFile);
    manager.addSink(&notifier);

    RunGates gates;
    addGates(gates, options);
    // A stop ends the gate that is running, and the run through the manager like any other end.
    QObject::connect(&stopSignals, &SignalWatcher::received, &gates, &RunGates::cancel);
    // A run that a gate closed has nothing left that a stop could end.
    QObject::connect(&gates, &RunGates::closed, &app, [&] {
        QObject::disconnect(&stopSignals, nullptr, &manager, nullptr);
        QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    // Queued, so that the start-up runs inside the event loop even when every gate passed at
    // once: its end then quits the loop on every path.
    QObject::connect(
        &gates, &RunGates::passed, &manager,
        [&manager] {
            if (manager.initialize()) {
                manager.scan();
            }
        },
        Qt::QueuedConnection);
    gates.start();
    QCoreApplication::exec();
    // A run that a gate closed has neither started nor reported anything.
    return manager.hasEnded() ? manager.report().exitStatus(options.exitStatus) : 0;
}
