#include "ConnectionManager.h"

#include "ConfigdIPCLink.h"
#include "ConfigdResponseHandler.h"
#include "FcIPCLink.h"
#include "Inventory.h"
#include "ScanProgressLog.h"
#include "ScanTask.h"
#include "SignalWatcher.h"
#include "annotation.pb.h"
#include "error.pb.h"

#include <QDebug>
#include <QFile>
#include <optional>

namespace {

const char kDefaultConfigdSocket[] = "/var/run/.norvo.public";

// The message text of a result code, as the suite shows it.
QString errorText(nv::ErrorCode code)
{
    const auto* value = nv::ErrorCode_descriptor()->FindValueByNumber(code);
    return value ? QString::fromStdString(value->options().GetExtension(nv::lex)) : QString();
}

// The configuration daemon's socket; none when the variable names no file that Qt can reach.
std::optional<QString> configdSocketPath()
{
    const QByteArray fromEnvironment = qgetenv("NRV_PUBLIC_SOCKET");
    if (fromEnvironment.isEmpty()) {
        return QString::fromLatin1(kDefaultConfigdSocket);
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

} // namespace

ConnectionManager::ConnectionManager(QObject* parent)
    : QObject(parent), m_configdSocket(new QLocalSocket(this)), m_fcSocket(nullptr),
      m_waitMs(IPCLink::kWaitMs)
{
    // Made before the link's own connection, so the run's reaction comes first.
    connect(m_configdSocket, &QLocalSocket::errorOccurred, this, &ConnectionManager::error);
    m_configdLink.reset(new ConfigdIPCLink(m_configdSocket, this));
    m_configdLink->setObjectName(QStringLiteral("Configd object"));
    m_configdLink->setDelegate(new ConfigdResponseHandler);

    m_fcSocket = new QLocalSocket(this);
    m_fcLink.reset(new FcIPCLink(m_fcSocket, this));
    m_fcLink->setObjectName(QStringLiteral("FileCheck object"));

    connect(m_fcLink.data(), &FcIPCLink::finished, this, &ConnectionManager::onScanFinished);
    connect(m_fcLink.data(), &FcIPCLink::error, this, &ConnectionManager::onScanError);
    connect(m_fcLink.data(), &FcIPCLink::scanIsInterrupted, this,
            &ConnectionManager::onScanInterrupted);

    auto* progress = new ScanProgressLog(m_fcLink.data(), this);
    connect(m_fcLink.data(), &FcIPCLink::newScanInfo, progress, &ScanProgressLog::onScanInfo);

    m_interruptWait.setSingleShot(true);
    connect(&m_interruptWait, &QTimer::timeout, this,
            [this] { endStop(QStringLiteral("interruption not confirmed by norvo-filecheck")); });
}

ConnectionManager::~ConnectionManager()
{
    m_configdSocket->abort();
    delete m_configdSocket;
    m_configdSocket = nullptr;
    m_fcLink.reset();
    m_configdLink.reset();
}

void ConnectionManager::setWaitMs(int ms)
{
    m_waitMs = ms;
    m_configdLink->setWaitMs(ms);
    m_fcLink->setWaitMs(ms);
}

bool ConnectionManager::initialize()
{
    if (!connectToConfigd()) {
        return false;
    }
    if (!m_configdLink->subscribeToGuiConfig()) {
        return false;
    }
    m_configdLink->sendMyInfo(Inventory::instance()->configRevision());
    return initializeFcLink();
}

bool ConnectionManager::connectToConfigd()
{
    if (const std::optional<QString> path = configdSocketPath()) {
        m_configdSocket->connectToServer(*path, QIODevice::ReadWrite);
    }
    // At once false when there was nothing to connect to.
    if (!m_configdSocket->waitForConnected(m_waitMs)) {
        qDebug() << "ConfigD connection problem";
        return false;
    }
    qDebug() << "ConfigD is connected";
    if (!m_configdLink->subscribeToGuiConfig()) {
        qDebug() << "ConfigD problem";
        return false;
    }
    return true;
}

bool ConnectionManager::initializeFcLink()
{
    // The answer reaches the inventory while this waits.
    if (!m_configdLink->getFcPath()) {
        return false;
    }
    return connectToFileCheck(Inventory::instance()->fcSocketPath());
}

bool ConnectionManager::connectToFileCheck(const QString& socketPath)
{
    qDebug() << "Socket path = " << socketPath;
    m_fcSocket->connectToServer(socketPath, QIODevice::ReadWrite);
    if (!m_fcSocket->waitForConnected(m_waitMs)) {
        return false;
    }
    m_fcLink->request(IPCLink::SubscribeToScanInfo);
    return true;
}

bool ConnectionManager::scan()
{
    const nv::LinuxGUIConfig config = Inventory::instance()->config();
    if (config.has_right_start_scanner() && !config.right_start_scanner()) {
        qDebug()
            << "Scheduled scan cannot be started due to central protection server restrictions";
        return false;
    }
    const QSharedPointer<ScanTask> task(new ScanTask(ScanTask::ScheduledScan));
    m_fcLink->scan(task, config, m_configdLink->token());
    m_scanRequested = true;
    return true;
}

bool ConnectionManager::claimEnd()
{
    if (m_over) {
        return false;
    }
    // Before the scan is requested the start-up sequence reports its own failures, and every
    // socket error there is logged as it comes.
    m_over = m_scanRequested;
    return true;
}

void ConnectionManager::error(QLocalSocket::LocalSocketError socketError)
{
    if (!claimEnd()) {
        return;
    }
    qDebug() << "Error = " << socketError;
    emit finished();
}

void ConnectionManager::onScanFinished()
{
    if (m_stopSignal) {
        endStop(QStringLiteral("scan ended"));
        return;
    }
    if (!claimEnd()) {
        return;
    }
    const FcIPCLink::ScanSummary& summary = m_fcLink->scanSummary();
    qInfo().noquote() << QStringLiteral("Scheduled scan finished: task %1, final status %2 (%3), "
                                        "files scanned: %4, threats found: %5")
                             .arg(summary.taskId)
                             .arg(int(summary.finalStatus))
                             .arg(errorText(summary.finalStatus))
                             .arg(summary.filesScanned)
                             .arg(summary.threatsFound);
    emit finished();
}

void ConnectionManager::onScanError()
{
    if (m_stopSignal) {
        endStop(QStringLiteral("norvo-filecheck closed the connection"));
        return;
    }
    if (!claimEnd()) {
        return;
    }
    // The socket keeps its last error: none means the daemon answered and refused.
    if (m_fcSocket->error() == QLocalSocket::UnknownSocketError) {
        const nv::ErrorCode code = m_fcLink->scanSummary().finalStatus;
        qInfo().noquote() << QStringLiteral("Scheduled scan refused by norvo-filecheck: "
                                            "error %1 (%2)")
                                 .arg(int(code))
                                 .arg(errorText(code));
    } else {
        qInfo() << "Scheduled scan ended: connection to norvo-filecheck lost";
    }
    emit finished();
}

void ConnectionManager::stop(int signo)
{
    if (m_over) {
        return;
    }
    if (m_stopSignal) {
        // A second stop means the user will not wait for the daemon.
        m_stopSignal = signo;
        endStop(QStringLiteral("interruption requested, not waiting for norvo-filecheck"));
        return;
    }
    // The daemon names the task only in its answer to the scan request; before that there is
    // nothing to interrupt by id.
    const int taskId = m_fcLink->currentTaskId();
    if (taskId == 0) {
        claimEnd();
        qInfo().noquote() << QStringLiteral("Scheduled scan stopped by %1 before norvo-filecheck "
                                            "started it")
                                 .arg(SignalWatcher::name(signo));
        emit finished();
        return;
    }
    m_stopSignal = signo;
    m_fcLink->interruptScan(taskId, std::string());
    m_interruptWait.start(kInterruptWaitMs);
}

void ConnectionManager::onScanInterrupted(int taskId)
{
    if (m_stopSignal && taskId == m_fcLink->currentTaskId()) {
        endStop(QStringLiteral("interrupted"));
    }
}

void ConnectionManager::endStop(const QString& outcome)
{
    if (!claimEnd()) {
        return;
    }
    m_interruptWait.stop();
    qInfo().noquote() << QStringLiteral("Scheduled scan stopped by %1: task %2 %3")
                             .arg(SignalWatcher::name(m_stopSignal))
                             .arg(m_fcLink->currentTaskId())
                             .arg(outcome);
    emit finished();
}
