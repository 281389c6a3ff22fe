#include "ConnectionManager.h"

#include "ConfigdIPCLink.h"
#include "ConfigdResponseHandler.h"
#include "ErrorText.h"
#include "FcIPCLink.h"
#include "Inventory.h"
#include "LenientParser.h"
#include "RunJournal.h"
#include "ScanProgressLog.h"
#include "ScanTask.h"
#include "SignalWatcher.h"

#include <QDebug>
#include <QFile>
#include <optional>

namespace {

const QString kFcLost = QStringLiteral("Scheduled scan ended: connection to norvo-filecheck lost");
const QString kConfigdGone =
    QStringLiteral("ConfigD connection lost after the scan was requested: the run follows the scan "
                   "in norvo-filecheck to its end");

// The configuration daemon's socket; none when the variable names no file that Qt can reach.
std::optional<QString> configdSocketPath(const QString& fallback)
{
    const QByteArray fromEnvironment = qgetenv("NRV_PUBLIC_SOCKET");
    if (fromEnvironment.isEmpty()) {
        return fallback;
    }
    // A socket is named to Qt as text: bytes that do not decode would name another file, and
    // whatever listened there would not be the daemon that the variable names.
    const QString path = QFile::decodeName(fromEnvironment);
    if (QFile::encodeName(path) != fromEnvironment) {
        qWarning() << "NRV_PUBLIC_SOCKET is not a valid file name:" << fromEnvironment;
        return std::nullopt;
    }
    return path;
}

QString finalStatusText(const std::optional<nv::ErrorCode>& finalStatus)
{
    if (!finalStatus) {
        return QStringLiteral("final status unknown");
    }
    // A newer daemon's code.
    if (errorText(*finalStatus).isEmpty()) {
        return QStringLiteral("final status unknown (code %1)").arg(int(*finalStatus));
    }
    return QStringLiteral("final status %1").arg(errorWithText(*finalStatus));
}

QString summaryLine(const FcIPCLink::ScanSummary& summary)
{
    const QString status = finalStatusText(summary.finalStatus);
    return QStringLiteral("Scheduled scan finished: task %1, %2, files scanned: %3, threats "
                          "found: %4")
        .arg(summary.taskId)
        .arg(status)
        .arg(summary.filesScanned)
        .arg(summary.threatsFound);
}

QString pastTense(nv::FileAction action)
{
    switch (action) {
    case nv::FILE_ACTION_CURE:
        return QStringLiteral("cured");
    case nv::FILE_ACTION_QUARANTINE:
        return QStringLiteral("quarantined");
    case nv::FILE_ACTION_DELETE:
        return QStringLiteral("deleted");
    case nv::FILE_ACTION_REPORT:
        return QStringLiteral("reported");
    case nv::FILE_ACTION_IGNORE:
        return QStringLiteral("ignored");
    }
    return QString::number(int(action));
}

// Names found in an archive or mail sit in the report of the item that holds them.
void collectNames(const nv::ScanReport& report, RunReport::Threat* threat)
{
    for (const nv::Virus& virus : report.virus()) {
        threat->addName(QString::fromStdString(virus.name()));
    }
    for (const nv::ScanReport& item : report.item()) {
        collectNames(item, threat);
    }
}

RunReport::Threat describe(const nv::FileThreat& threat)
{
    RunReport::Threat described;
    described.setFile(QByteArray::fromStdString(threat.report().object()));
    collectNames(threat.report(), &described);
    if (threat.history_size() > 0) {
        // A newer daemon's action or result is named by its number.
        const nv::FileOperation& last = threat.history(threat.history_size() - 1);
        described.action = pastTense(LenientParser::asSent(
            last, nv::FileOperation::kActionFieldNumber, last.has_action(), last.action()));
        const nv::ErrorCode result = LenientParser::asSent(
            last, nv::FileOperation::kResultFieldNumber, last.has_result(), last.result());
        described.result = errorText(result);
        if (described.result.isEmpty()) {
            described.result = QStringLiteral("code %1").arg(int(result));
        }
    }
    return described;
}

} // namespace

ConnectionManager::ConnectionManager(QObject* parent)
    : QObject(parent), m_configdSocket(new QLocalSocket(this)), m_fcSocket(nullptr),
      m_progress(nullptr), m_connector([this] { return stopped(); })
{
    m_report.started = QDateTime::currentDateTimeUtc();
    // Made before the link's own connection, so the run's reaction comes first.
    connect(m_configdSocket, &QLocalSocket::errorOccurred, this, &ConnectionManager::error);
    m_configdLink.reset(new ConfigdIPCLink(m_configdSocket, this));
    m_configdLink->setObjectName(QStringLiteral("Configd object"));
    m_configdLink->setDelegate(new ConfigdResponseHandler);

    m_fcSocket = new QLocalSocket(this);
    m_fcLink.reset(new FcIPCLink(m_fcSocket, this));
    m_fcLink->setObjectName(QStringLiteral("FileCheck object"));

    FcIPCLink* fc = m_fcLink.data();
    connect(fc, &FcIPCLink::scanIsStarted, this, &ConnectionManager::onScanStarted);
    connect(fc, &FcIPCLink::finished, this, &ConnectionManager::onScanFinished);
    connect(fc, &FcIPCLink::refused, this, &ConnectionManager::onScanRefused);
    connect(fc, &FcIPCLink::interruptFailed, this, &ConnectionManager::onInterruptFailed);
    connect(fc, &FcIPCLink::scanIsInterrupted, this, &ConnectionManager::onScanInterrupted);
    connect(fc, &FcIPCLink::connectionLost, this, &ConnectionManager::onFcConnectionLost);
    connect(fc, &FcIPCLink::threatFound, this, &ConnectionManager::onThreatFound);

    m_progress = new ScanProgressLog(fc, this);
    connect(fc, &FcIPCLink::newScanInfo, m_progress, &ScanProgressLog::onScanInfo);

    m_interruptWait.setSingleShot(true);
    connect(&m_interruptWait, &QTimer::timeout, this, &ConnectionManager::onInterruptWaitOver);
}

ConnectionManager::~ConnectionManager()
{
    // The configuration daemon sees the run go at once; the links go before the file-check
    // socket that they read, which goes with the remaining children.
    m_configdSocket->abort();
    delete m_configdSocket;
    m_configdSocket = nullptr;
    m_fcLink.reset();
    m_configdLink.reset();
}

void ConnectionManager::watchStopSignals(SignalWatcher* watcher)
{
    m_stopSignals = watcher;
    connect(watcher, &SignalWatcher::received, this, &ConnectionManager::stop);
    m_connector.setWakeDescriptor(watcher->descriptor());
    m_configdLink->setWakeDescriptor(watcher->descriptor());
    m_fcLink->setWakeDescriptor(watcher->descriptor());
}

void ConnectionManager::setWaitMs(int ms)
{
    m_connector.setWaitMs(ms);
    m_configdLink->setWaitMs(ms);
    m_fcLink->setWaitMs(ms);
}

bool ConnectionManager::initialize()
{
    if (!connectToConfigd()) {
        return false;
    }
    // The front-end subscribes twice, and the daemon's answers are what the run waits for.
    if (!m_configdLink->subscribeToGuiConfig()) {
        return startUpFailed(QStringLiteral("Scheduled scan not started: ConfigD did not answer "
                                            "the second configuration subscription"));
    }
    m_configdLink->sendMyInfo(Inventory::instance()->configRevision());
    return initializeFcLink();
}

bool ConnectionManager::connectToConfigd()
{
    const std::optional<QString> path = configdSocketPath(m_defaultConfigdSocket);
    // At once false when there is nothing to connect to.
    if (!path || !connectDaemon(*m_configdSocket, *path, QStringLiteral("ConfigD"))) {
        return startUpFailed(QStringLiteral("ConfigD connection problem"));
    }
    qDebug() << "ConfigD is connected";
    if (!m_configdLink->subscribeToGuiConfig()) {
        return startUpFailed(QStringLiteral("ConfigD problem"));
    }
    return true;
}

bool ConnectionManager::initializeFcLink()
{
    // The answer reaches the inventory while this waits.
    if (!m_configdLink->getFcPath()) {
        return startUpFailed(QStringLiteral("Scheduled scan not started: ConfigD did not answer "
                                            "the request for the norvo-filecheck socket"));
    }
    const QString path = Inventory::instance()->fcSocketPath();
    if (const std::optional<nv::Error> refusal = Inventory::instance()->fcSocketError();
        path.isEmpty() && refusal) {
        const std::string name = nv::ErrorCode_Name(refusal->code());
        QDebug line = qWarning().nospace().noquote();
        line << "ConfigD answered the request for the norvo-filecheck socket with "
             << QString::fromStdString(name.empty() ? "error" : name) << " ("
             << int(refusal->code()) << ")";
        if (refusal->has_what()) {
            // The daemon's own text, quoted with its control characters escaped.
            line.quote() << ": " << QString::fromStdString(refusal->what());
        }
    }
    if (!connectToFileCheck(path)) {
        return startUpFailed(
            path.isEmpty()
                ? QStringLiteral("Scheduled scan not started: ConfigD named no norvo-filecheck "
                                 "socket")
                : QStringLiteral("Scheduled scan not started: cannot connect to norvo-filecheck"));
    }
    return true;
}

bool ConnectionManager::connectToFileCheck(const QString& socketPath)
{
    // No path named at all: there is nothing to try, and the start-up says why.
    if (socketPath.isEmpty()) {
        return false;
    }
    qDebug() << "Socket path = " << socketPath;
    if (!connectDaemon(*m_fcSocket, socketPath, QStringLiteral("norvo-filecheck"))) {
        return false;
    }
    m_stage = Stage::FileCheck;
    m_fcLink->request(IPCLink::SubscribeToScanInfo);
    return !m_ended;
}

bool ConnectionManager::connectDaemon(QLocalSocket& socket, const QString& path,
                                      const QString& daemon)
{
    switch (m_connector.connect(socket, path, daemon)) {
    case DaemonConnector::Result::Connected:
        return true;
    case DaemonConnector::Result::NotConnected:
        return false;
    case DaemonConnector::Result::Untrusted:
        finish(Outcome::NotStarted, PeerGuard::refusedLine(path));
        return false;
    }
    return false;
}

bool ConnectionManager::scan()
{
    // A stop that arrived after the last wait: nothing more is sent.
    if (stopped()) {
        return false;
    }
    const nv::LinuxGUIConfig config = Inventory::instance()->config();
    if (config.has_right_start_scanner() && !config.right_start_scanner()) {
        finish(Outcome::Forbidden,
               QStringLiteral("Scheduled scan cannot be started due to central protection server "
                              "restrictions"));
        return false;
    }
    const QSharedPointer<ScanTask> task(new ScanTask(ScanTask::ScheduledScan));
    if (!task->problem().isEmpty()) {
        m_report.scheduleUnusable = true;
        finish(Outcome::NotStarted,
               QStringLiteral("Scheduled scan not started: %1").arg(task->problem()));
        return false;
    }
    m_stage = Stage::ScanRequested;
    if (!m_fcLink->scan(task, config, m_configdLink->token())) {
        finish(Outcome::ConnectionLost, kFcLost);
    }
    return !m_ended;
}

bool ConnectionManager::stopped()
{
    if (m_stopSignals) {
        m_stopSignals->deliverPending();
    }
    return m_ended;
}

bool ConnectionManager::startUpFailed(const QString& closingLine)
{
    stopped();
    finish(Outcome::NotStarted, closingLine);
    return false;
}

void ConnectionManager::finish(Outcome outcome, const QString& closingLine)
{
    if (m_ended) {
        return;
    }
    m_ended = true;
    m_interruptWait.stop();
    const FcIPCLink::ScanSummary& summary = m_fcLink->scanSummary();
    m_report.outcome = outcome;
    m_report.reason = closingLine;
    m_report.ended = QDateTime::currentDateTimeUtc();
    m_report.taskId = summary.taskId;
    if (summary.finalStatus) {
        m_report.finalStatusCode = int(*summary.finalStatus);
        m_report.finalStatusText = errorText(*summary.finalStatus);
    }
    m_report.filesScanned = summary.filesScanned;
    m_report.filesToScan = summary.filesToScan;
    m_report.threatsFound = summary.threatsFound;
    // The closing line is the last word: what the daemons still send is no longer read, also
    // not the rest of a batch that a link is dispatching right now.
    m_fcLink->disconnect(this);
    m_fcLink->disconnect(m_progress);
    m_configdSocket->disconnect(m_configdLink.data());
    m_fcSocket->disconnect(m_fcLink.data());
    for (RunSink* sink : std::as_const(m_sinks)) {
        sink->deliver(m_report);
    }
    RunJournal::closingLine(m_report);
    // Before the event loop runs this quits nothing: the start-up returns false instead.
    emit finished();
}

void ConnectionManager::error(QLocalSocket::LocalSocketError socketError)
{
    QString line;
    QDebug(&line) << "Error = " << socketError;
    // Before the scan is requested, the step that waits for the daemon reports the failure; the
    // cause is logged as it comes.
    if (m_stage != Stage::ScanRequested) {
        qDebug().noquote() << line.trimmed();
        return;
    }
    if (m_ended || m_configdLost) {
        return;
    }
    // Once the scan is requested the run needs nothing more from the configuration daemon, while
    // the scan goes on in the file-check daemon: ending now would leave it unobserved, and the
    // catch-up run would start a second one beside it.
    m_configdLost = true;
    qDebug().noquote() << line.trimmed();
    qInfo().noquote() << kConfigdGone;
}

void ConnectionManager::onScanFinished()
{
    if (interrupting()) {
        finishInterruption(QStringLiteral("scan ended"));
        return;
    }
    finish(Outcome::Finished, summaryLine(m_fcLink->scanSummary()));
}

void ConnectionManager::onScanRefused(nv::ErrorCode code)
{
    const QString refusal = QStringLiteral("error %1").arg(errorWithText(code));
    if (m_fcLink->taskNamed() && !m_fcLink->scanSummary().finished) {
        // The daemon may run the task that it named: a stop interrupts it already (see
        // onScanStarted), a refusal does so here, and the run ends once that is settled.
        if (!m_stopSignal) {
            m_refusal = code;
            qInfo().noquote() << QStringLiteral(
                                     "norvo-filecheck refused the scan with %1 yet named "
                                     "task %2: the run interrupts it")
                                     .arg(refusal)
                                     .arg(m_fcLink->currentTaskId());
            m_interruptWait.start(kInterruptWaitMs);
            m_fcLink->interruptScan(m_fcLink->currentTaskId(), std::string());
        }
        return;
    }
    if (m_stopSignal) {
        finishInterruption(QStringLiteral("norvo-filecheck refused the scan, %1").arg(refusal));
        return;
    }
    finish(Outcome::Refused,
           QStringLiteral("Scheduled scan refused by norvo-filecheck: %1").arg(refusal));
}

void ConnectionManager::onFcConnectionLost()
{
    if (m_stage == Stage::ConfigD) {
        // Not connected yet: the connection step reports its own failure.
        return;
    }
    if (interrupting()) {
        finishInterruption(QStringLiteral("norvo-filecheck closed the connection"));
        return;
    }
    finish(Outcome::ConnectionLost, kFcLost);
}

void ConnectionManager::onThreatFound(const nv::FileThreat& threat)
{
    const RunReport::Threat described = describe(threat);
    RunJournal::threat(described, m_fcLink->scanSummary().taskId);
    // The count goes on in the summary; a mass infection must not grow the run without bound.
    if (m_report.threats.size() < RunReport::kMaxThreats) {
        m_report.threats.append(described);
    }
}

void ConnectionManager::stop(int signo)
{
    if (m_ended) {
        return;
    }
    if (m_stopSignal) {
        // A second stop means the user will not wait for the daemon.
        m_stopSignal = signo;
        finishInterruption(
            QStringLiteral("interruption requested, not waiting for norvo-filecheck"));
        return;
    }
    m_stopSignal = signo;
    if (m_stage != Stage::ScanRequested) {
        finish(Outcome::Stopped,
               QStringLiteral("Scheduled scan stopped by %1 before the scan was requested")
                   .arg(SignalWatcher::name(signo)));
        return;
    }
    // A scan that was asked for is stopped, not abandoned: one bound covers both the daemon's
    // answer that names the task and its confirmation of the interruption.
    m_interruptWait.start(kInterruptWaitMs);
    if (m_fcLink->taskNamed()) {
        m_fcLink->interruptScan(m_fcLink->currentTaskId(), std::string());
    }
}

void ConnectionManager::onScanStarted(int taskId)
{
    if (!m_stopSignal || m_ended || !m_fcLink->taskNamed() || taskId != m_fcLink->currentTaskId() ||
        m_fcLink->scanSummary().finished) {
        return;
    }
    m_fcLink->interruptScan(taskId, std::string());
}

void ConnectionManager::onScanInterrupted(int taskId)
{
    if (interrupting() && m_fcLink->taskNamed() && taskId == m_fcLink->currentTaskId()) {
        finishInterruption(QStringLiteral("interrupted"));
    }
}

void ConnectionManager::onInterruptFailed(int taskId, nv::ErrorCode code)
{
    if (interrupting() && m_fcLink->taskNamed() && taskId == m_fcLink->currentTaskId()) {
        finishInterruption(QStringLiteral("not interrupted: norvo-filecheck answered error %1")
                               .arg(errorWithText(code)));
    }
}

void ConnectionManager::onInterruptWaitOver()
{
    if (m_fcLink->taskNamed()) {
        finishInterruption(QStringLiteral("interruption not confirmed by norvo-filecheck"));
        return;
    }
    finish(Outcome::Stopped,
           QStringLiteral("Scheduled scan stopped by %1 before norvo-filecheck started it: the "
                          "scan request was not answered, norvo-filecheck may still run the scan")
               .arg(SignalWatcher::name(m_stopSignal)));
}

void ConnectionManager::finishInterruption(const QString& outcome)
{
    const QString task = m_fcLink->taskNamed()
                             ? QStringLiteral("task %1 ").arg(m_fcLink->currentTaskId())
                             : QString();
    if (m_stopSignal) {
        finish(Outcome::Stopped, QStringLiteral("Scheduled scan stopped by %1: %2%3")
                                     .arg(SignalWatcher::name(m_stopSignal), task, outcome));
        return;
    }
    finish(Outcome::Refused, QStringLiteral("Scheduled scan refused by norvo-filecheck: error %1; "
                                            "%2%3")
                                 .arg(errorWithText(*m_refusal), task, outcome));
}
