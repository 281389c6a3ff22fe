#include "ConnectionManager.h"
#include "RunLock.h"
#include "SignalWatcher.h"

#include <QCoreApplication>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    // These names also select the front-end's settings file that holds the schedule.
    QCoreApplication::setOrganizationName(QStringLiteral("norvo"));
    QCoreApplication::setApplicationName(QStringLiteral("norvo-gui"));

    // From here on a stop signal waits for the event loop instead of killing the run.
    SignalWatcher stopSignals;
    RunLock lock;
    if (!lock.acquire()) {
        return 0;
    }

    auto* manager = new ConnectionManager;
    QObject::connect(manager, &ConnectionManager::finished, &app, &QCoreApplication::quit);
    QObject::connect(&stopSignals, &SignalWatcher::received, manager, &ConnectionManager::stop);

    int status = 0;
    if (manager->initialize() && manager->scan()) {
        status = QCoreApplication::exec();
    }
    delete manager;
    return status;
}
