#pragma once

#include <QLocalSocket>
#include <QObject>
#include <QSharedPointer>
#include <QTimer>
#include <optional>

#include "DaemonConnector.h"
#include "RunReport.h"
#include "RunSink.h"
#include "error.pb.h"
#include "threat.pb.h"

class ConfigdIPCLink;
class FcIPCLink;
class ScanProgressLog;
class SignalWatcher;

// Runs one scheduled scan: connects to the configuration daemon, learns the configuration and the
// file-check daemon's socket, connects there and hands over the scheduled task. However it ends,
// the run ends in finish(), which writes its one closing line and emits finished().
class ConnectionManager : public QObject
{
    Q_OBJECT

public:
    // How long a stopped run waits for the daemon to take up and confirm the interruption.
    static constexpr int kInterruptWaitMs = 2000;
    static constexpr char kDefaultConfigdSocket[] = "/var/run/.norvo.public";

    explicit ConnectionManager(QObject* parent = nullptr);
    ~ConnectionManager() override;

    bool initialize();
    bool connectToConfigd();
    bool connectToFileCheck(const QString& socketPath);

    // Stop signals end the run, also while the start-up blocks in a wait.
    void watchStopSignals(SignalWatcher* watcher);
    // Tests shorten every start-up wait; the program keeps IPCLink::kWaitMs.
    void setWaitMs(int ms);
    // How long the start-up waits for daemons that are not listening yet, as after a boot; the
    // bound counts from the start of the run. 0: not at all.
    void setDaemonWait(qint64 ms) { m_connector.setDaemonWait(ms); }
    // Where the report goes when the run ends, in the order added, before the closing line.
    void addSink(RunSink* sink) { m_sinks.append(sink); }
    // Tests name a socket of their own; the program keeps kDefaultConfigdSocket.
    void setDefaultConfigdSocket(const QString& path) { m_defaultConfigdSocket = path; }
    bool hasEnded() const { return m_ended; }
    // How the run ended; complete once it has.
    const RunReport& report() const { return m_report; }

signals:
    void finished();

public slots:
    bool initializeFcLink();
    void error(QLocalSocket::LocalSocketError socketError);
    bool scan();
    // Ends the run on a stop signal, interrupting its scan first when the daemon has one.
    void stop(int signo);

private:
    // How far the run has come: what a failure or a stop still has to undo.
    enum class Stage { ConfigD, FileCheck, ScanRequested };

    using Outcome = RunReport::Outcome;

    // The only way out: the first call completes the report, hands it to the sinks, writes the
    // closing line and ends the run; later calls change nothing.
    void finish(Outcome outcome, const QString& closingLine);
    // The start-up reports its own failures, after the line of any step that failed. A wait that
    // a stop signal cut short has ended the run with the stop's line instead.
    bool startUpFailed(const QString& closingLine);
    // True when `socket` reached a trusted daemon at `path`; a peer that is nobody to talk to
    // ends the run.
    bool connectDaemon(QLocalSocket& socket, const QString& path, const QString& daemon);
    // Delivers pending stop signals; true when they have ended the run.
    bool stopped();

    void onScanStarted(int taskId);
    void onScanFinished();
    void onScanRefused(nv::ErrorCode code);
    void onScanInterrupted(int taskId);
    void onInterruptFailed(int taskId, nv::ErrorCode code);
    void onFcConnectionLost();
    void onThreatFound(const nv::FileThreat& threat);
    void onInterruptWaitOver();
    // The run interrupts its task on a stop signal, and on a refusal that named a task anyway.
    bool interrupting() const { return m_stopSignal != 0 || m_refusal.has_value(); }
    // Ends an interruption with `outcome`, e.g. "interrupted", as the stop's or the refusal's line.
    void finishInterruption(const QString& outcome);

    QLocalSocket* m_configdSocket;
    QLocalSocket* m_fcSocket;
    QSharedPointer<ConfigdIPCLink> m_configdLink;
    QSharedPointer<FcIPCLink> m_fcLink;
    ScanProgressLog* m_progress;

    SignalWatcher* m_stopSignals = nullptr;
    DaemonConnector m_connector;
    RunReport m_report;
    QList<RunSink*> m_sinks;
    QString m_defaultConfigdSocket = QLatin1String(kDefaultConfigdSocket);
    Stage m_stage = Stage::ConfigD;
    bool m_ended = false;
    // Set once a stop signal has arrived: the run then ends as soon as its scan is stopped.
    int m_stopSignal = 0;
    // Set when the daemon refused the scan yet named a task, which the run then interrupts.
    std::optional<nv::ErrorCode> m_refusal;
    // Set once the configuration daemon has gone after the scan was requested.
    bool m_configdLost = false;
    QTimer m_interruptWait;
};
