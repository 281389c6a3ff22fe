#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM and SIGINT into an orderly quit of the event loop, so that a stand-in daemon
// closes its connections, removes its socket file and exits with status 0. A signal handler may
// do next to nothing, so it only writes a byte into a pipe that the event loop watches. SIGPIPE
// is ignored: a client that vanishes must not kill the daemon in the middle of an answer.
class ExitSignals : public QObject
{
    Q_OBJECT

public:
    explicit ExitSignals(QObject* parent = nullptr);
    ~ExitSignals() override;

private:
    static void onSignal(int signalNumber);
    void drain();

    QSocketNotifier* m_notifier = nullptr;
};
