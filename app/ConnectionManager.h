#pragma once

#include <QLocalSocket>
#include <QObject>
#include <QSharedPointer>
#include <QTimer>

class ConfigdIPCLink;
class FcIPCLink;

// Runs one scheduled scan: connects to the configuration daemon, learns the configuration and the
// file-check daemon's socket, connects there and hands over the scheduled task. The run is over
// when finished() is emitted.
class ConnectionManager : public QObject
{
    Q_OBJECT

public:
    // How long a stopped run waits for the daemon to confirm the interruption of its scan.
    static constexpr int kInterruptWaitMs = 2000;

    explicit ConnectionManager(QObject* parent = nullptr);
    ~ConnectionManager() override;

    bool initialize();
    bool connectToConfigd();
    bool connectToFileCheck(const QString& socketPath);

    // Tests shorten every start-up wait; the program keeps IPCLink::kWaitMs.
    void setWaitMs(int ms);

signals:
    void finished();

public slots:
    bool initializeFcLink();
    void error(QLocalSocket::LocalSocketError socketError);
    bool scan();
    // Ends the run on a stop signal, interrupting its scan first when the daemon has one.
    void stop(int signo);

private:
    void onScanFinished();
    void onScanError();
    void onScanInterrupted(int taskId);
    void endStop(const QString& outcome);
    // The single way out of a running scan: only the first end of the run counts.
    bool claimEnd();

    QLocalSocket* m_configdSocket;
    QLocalSocket* m_fcSocket;
    QSharedPointer<ConfigdIPCLink> m_configdLink;
    QSharedPointer<FcIPCLink> m_fcLink;

    int m_waitMs;
    bool m_scanRequested = false;
    bool m_over = false;
    // Set while a stopped run waits for the interruption to be confirmed.
    int m_stopSignal = 0;
    QTimer m_interruptWait;
};
