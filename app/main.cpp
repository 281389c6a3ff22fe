#include "ConnectionManager.h"
#include "RunLock.h"
#include "SignalWatcher.h"

#include <QCoreApplication>
#include <csignal>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    // These names also select the front-end's settings file that holds the schedule.
    QCoreApplication::setOrganizationName(QStringLiteral("norvo"));
    QCoreApplication::setApplicationName(QStringLiteral("norvo-gui"));

    // From here on a stop signal ends the run in order instead of killing it.
    SignalWatcher stopSignals({SIGTERM, SIGINT, SIGHUP});
    RunLock lock;
    if (!lock.acquire()) {
        return 0;
    }

    ConnectionManager manager;
    QObject::connect(&manager, &ConnectionManager::finished, &app, &QCoreApplication::quit);
    manager.watchStopSignals(&stopSignals);

    int status = 0;
    if (manager.initialize() && manager.scan()) {
        status = QCoreApplication::exec();
    }
    return status;
}
