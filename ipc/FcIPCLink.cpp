#include "FcIPCLink.h"

#include "LenientParser.h"
#include "ScanTask.h"

#include <QDebug>
#include <QFile>
#include <QScopedValueRollback>
#include <memory>
#include <unistd.h>

namespace {

// One counter for every link of the process, so that no two requests share a serial.
quint32 requestSerial = 0;

constexpr quint32 kNestingLevelOn = 8;
constexpr quint32 kNestingLevelOff = 0;
constexpr quint32 kProgressIntervalMs = 200;
// Notifications of progress and a few threats stay below this.
constexpr qsizetype kReusedMessageBytes = 64 * 1024;
// Asks the daemon for the boot records of every disk.
const char* const kAllBootDevices = "*";
// Stands in for the access token in logged requests: whoever reads the log must not be able to
// act with the caller's rights.
const char* const kRedactedToken = "<redacted>";

quint32 nextSerial()
{
    return ++requestSerial;
}

std::string fileName(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

void addFileNames(google::protobuf::RepeatedPtrField<std::string>* field, const QStringList& paths)
{
    for (const QString& path : paths) {
        field->Add(fileName(path));
    }
}

// An empty token means that the caller holds none, which the daemon must see as an absent field.
void setToken(fc::ClientMessage& msg, const std::string& token)
{
    if (!token.empty()) {
        msg.set_token(token);
    }
}

void setOrigin(fc::ScanRequest* scanRequest)
{
    scanRequest->set_origin(nv::APP_LINUX_GUI);
    scanRequest->set_origin_pid(quint32(getpid()));
}

template <typename Map>
void copyActions(fc::ActionSet* actions, const nv::LinuxGUIConfig& config, Map map)
{
    actions->set_on_known_virus(map(config.on_known_virus()));
    actions->set_on_incurable(map(config.on_incurable()));
    actions->set_on_suspicious(map(config.on_suspicious()));
    actions->set_on_adware(map(config.on_adware()));
    actions->set_on_dialers(map(config.on_dialers()));
    actions->set_on_jokes(map(config.on_jokes()));
    actions->set_on_riskware(map(config.on_riskware()));
    actions->set_on_hacktools(map(config.on_hacktools()));
}

QString loggable(const fc::ClientMessage& msg)
{
    if (!msg.has_token()) {
        return QString::fromStdString(msg.DebugString());
    }
    fc::ClientMessage copy(msg);
    copy.set_token(kRedactedToken);
    return QString::fromStdString(copy.DebugString());
}

void logReply(const QString& name)
{
    qDebug() << QStringLiteral("Filecheck -> %1").arg(name);
}

// The code as sent, also one that this build does not know.
nv::ErrorCode errorCodeOf(const nv::Error& error)
{
    return LenientParser::asSent(error, nv::Error::kCodeFieldNumber, error.has_code(),
                                 error.code());
}

} // namespace

FcIPCLink::FcIPCLink(QLocalSocket* socket, QObject* parent) : IPCLink(socket, parent) {}

bool FcIPCLink::scan(const QSharedPointer<ScanTask>& task, const nv::LinuxGUIConfig& config,
                     const std::string& token)
{
    if (!task) {
        qWarning("Scan request without a task, nothing sent");
        return false;
    }
    fc::ClientMessage msg;
    msg.set_tag(fc::ClientMessage::START_SCAN_REQUEST);
    msg.set_serial(nextSerial());
    setToken(msg, token);
    fc::ScanRequest* scanRequest = msg.mutable_scan_request();
    setOrigin(scanRequest);
    if (task->scanMbr()) {
        scanRequest->add_boot_dev_path(kAllBootDevices);
    }
    scanRequest->set_scan_processes(task->scanRunningProcesses());
    scanRequest->set_comment(QString::number(int(task->scanType())).toStdString());
    applyConfig(*scanRequest, config);
    addFileNames(scanRequest->mutable_included_path(), task->paths());
    scanRequest->clear_excluded_path();
    for (const std::string& path : config.excluded_path().path()) {
        scanRequest->add_excluded_path(path);
    }
    qDebug() << "Scan request:" << loggable(msg);

    m_tracker.expectStart();
    return send(msg);
}

void FcIPCLink::applyConfig(fc::ScanRequest& scanRequest, const nv::LinuxGUIConfig& config)
{
    scanRequest.set_scan_timeout_ms(config.scan_timeout());
    scanRequest.set_mail_max_level(config.check_emails() ? kNestingLevelOn : kNestingLevelOff);
    scanRequest.set_archive_max_level(config.check_archives() ? kNestingLevelOn : kNestingLevelOff);
    if (config.auto_applying()) {
        copyActions(scanRequest.mutable_actions(), config, [](nv::FileAction a) { return a; });
    } else {
        copyActions(scanRequest.mutable_actions(), config,
                    [](nv::FileAction) { return nv::FILE_ACTION_REPORT; });
    }
}

void FcIPCLink::interruptScan(int taskId, const std::string& token)
{
    fc::ClientMessage msg;
    msg.set_tag(fc::ClientMessage::INTERRUPT_SCAN_REQUEST);
    msg.set_task_id(quint32(taskId));
    setToken(msg, token);
    setOrigin(msg.mutable_scan_request());
    send(msg);
}

void FcIPCLink::neutralizeByAction(nv::FileAction action, int threatId, const std::string& token)
{
    fc::ClientMessage msg;
    switch (action) {
    case nv::FILE_ACTION_CURE:
        msg.set_tag(fc::ClientMessage::CURE_THREAT_REQUEST);
        break;
    case nv::FILE_ACTION_QUARANTINE:
        msg.set_tag(fc::ClientMessage::QUARANTINE_THREAT_REQUEST);
        break;
    case nv::FILE_ACTION_DELETE:
        msg.set_tag(fc::ClientMessage::DELETE_THREAT_REQUEST);
        break;
    case nv::FILE_ACTION_IGNORE:
        msg.set_tag(fc::ClientMessage::IGNORE_THREAT_REQUEST);
        break;
    default:
        qWarning("Threat action %d has no request, nothing sent", int(action));
        return;
    }
    sendThreatOp(msg, threatId, token);
}

void FcIPCLink::neutralize(int threatId, const nv::LinuxGUIConfig& config, const std::string& token)
{
    fc::ClientMessage msg;
    msg.set_tag(fc::ClientMessage::NEUTRALIZE_THREAT_REQUEST);
    // The threat is already known, so merely reporting it again would leave it untouched.
    copyActions(msg.mutable_actions(), config, [](nv::FileAction a) {
        return a == nv::FILE_ACTION_REPORT ? nv::FILE_ACTION_IGNORE : a;
    });
    msg.mutable_actions()->set_cure_boot(true);
    sendThreatOp(msg, threatId, token);
}

void FcIPCLink::sendThreatOp(fc::ClientMessage& msg, int threatId, const std::string& token)
{
    const quint32 serial = nextSerial();
    msg.set_serial(serial);
    msg.set_threat_id(quint32(threatId));
    setToken(msg, token);
    m_pendingRequests.insert(serial, threatId);
    send(msg);
}

void FcIPCLink::doActionWithQEntry(nv::QEntryAction action, const QList<std::string>& params,
                                   const std::string& token)
{
    if (params.size() < 2) {
        qWarning("Quarantine operation needs an entry id and a chunk id, got %d parameters, "
                 "nothing sent",
                 int(params.size()));
        return;
    }
    fc::ClientMessage msg;
    switch (action) {
    case nv::QENTRY_ACTION_DELETE:
        msg.set_tag(fc::ClientMessage::DELETE_QENTRY_REQUEST);
        break;
    case nv::QENTRY_ACTION_RESTORE:
        msg.set_tag(fc::ClientMessage::RESTORE_QENTRY_REQUEST);
        if (params.size() > 2) {
            msg.set_restore_path(params[2]);
        }
        break;
    default:
        qWarning("Quarantine action %d has no request, nothing sent", int(action));
        return;
    }
    sendQuarantineOp(msg, params[0], params[1], token);
}

void FcIPCLink::restoryQEntry(const QString& entryId, const QString& chunkId,
                              const QString& restoryPath)
{
    fc::ClientMessage msg;
    msg.set_tag(fc::ClientMessage::RESTORE_QENTRY_REQUEST);
    msg.set_restore_path(fileName(restoryPath));
    sendQuarantineOp(msg, entryId.toStdString(), fileName(chunkId), std::string());
}

void FcIPCLink::sendQuarantineOp(fc::ClientMessage& msg, const std::string& entryId,
                                 const std::string& chunkId, const std::string& token)
{
    const quint32 serial = nextSerial();
    msg.set_serial(serial);
    msg.set_entry_id(entryId);
    msg.set_chunk_id(chunkId);
    setToken(msg, token);
    m_pendingRequests.insert(serial, QString::fromStdString(entryId));
    send(msg);
}

quint32 FcIPCLink::listDir(const QString& path, const std::string& token)
{
    fc::ClientMessage msg;
    msg.set_tag(fc::ClientMessage::LIST_DIR_REQUEST);
    setToken(msg, token);
    msg.set_path(fileName(path));
    const quint32 serial = nextSerial();
    msg.set_serial(serial);
    qDebug() << loggable(msg);
    send(msg);
    return serial;
}

QList<nv::Disk> FcIPCLink::enumerateDisks()
{
    fc::ClientMessage msg;
    msg.set_tag(fc::ClientMessage::ENUMERATE_DISKS_REQUEST);
    sendAndWait(msg);
    return m_disks;
}

void FcIPCLink::request(int kind)
{
    fc::ClientMessage msg;
    switch (kind) {
    case StartScan:
        msg.set_tag(fc::ClientMessage::START_SCAN_REQUEST);
        setOrigin(msg.mutable_scan_request());
        addFileNames(msg.mutable_scan_request()->mutable_included_path(), m_includedPaths);
        addFileNames(msg.mutable_scan_request()->mutable_excluded_path(), m_excludedPaths);
        msg.set_serial(nextSerial());
        break;
    case InterruptScan:
        msg.set_tag(fc::ClientMessage::INTERRUPT_SCAN_REQUEST);
        msg.set_task_id(m_tracker.taskId());
        setOrigin(msg.mutable_scan_request());
        break;
    case SubscribeToScanInfo: {
        msg.set_tag(fc::ClientMessage::SUBSCRIBE_TO_SCAN_INFO);
        fc::ScanInfoOptions* options = msg.mutable_info_options();
        options->set_report_clean(false);
        options->set_report_threats(true);
        options->set_report_errors(true);
        options->set_progress_interval_ms(kProgressIntervalMs);
        msg.set_serial(nextSerial());
        break;
    }
    case QuarantineThreat:
        msg.set_tag(fc::ClientMessage::QUARANTINE_THREAT_REQUEST);
        msg.set_serial(nextSerial());
        msg.set_threat_id(quint32(m_currentThreatId));
        break;
    case DeleteThreat:
        msg.set_tag(fc::ClientMessage::DELETE_THREAT_REQUEST);
        msg.set_serial(nextSerial());
        msg.set_threat_id(quint32(m_currentThreatId));
        break;
    case CureThreat:
        msg.set_tag(fc::ClientMessage::CURE_THREAT_REQUEST);
        msg.set_serial(nextSerial());
        msg.set_threat_id(quint32(m_currentThreatId));
        break;
    case SubscribeToThreats:
        msg.set_tag(fc::ClientMessage::SUBSCRIBE_TO_THREATS);
        break;
    case SubscribeToQuarantine:
        msg.set_tag(fc::ClientMessage::SUBSCRIBE_TO_QUARANTINE);
        break;
    default:
        return;
    }
    send(msg);
}

void FcIPCLink::processMessage(const QByteArray& body)
{
    // Parsing into the same message keeps its entry, progress and file name from one frame to
    // the next, so that a progress notification is parsed without touching the heap. A large
    // frame gets a message of its own, so that its memory is not held for the run, and so does a
    // frame that a receiver reads from inside a signal of the one before.
    std::unique_ptr<fc::ServerMessage> own;
    if (m_parsing || body.size() > kReusedMessageBytes) {
        own = std::make_unique<fc::ServerMessage>();
    }
    fc::ServerMessage& msg = own ? *own : m_message;
    const QScopedValueRollback<bool> parsing(m_parsing, true);
    // The partial parse leaves the report of a missing field to us instead of the runtime's own
    // log, so that one line tells of the dropped frame.
    if (!LenientParser::parse(msg, body)) {
        qWarning("Malformed message of %d bytes from norvo-filecheck dropped", int(body.size()));
        return;
    }
    // A kind of message that came after this build.
    if (!msg.has_tag()) {
        qWarning("Unrecognized message from norvo-filecheck");
        return;
    }
    switch (msg.tag()) {
    case fc::ServerMessage::START_SCAN_RESPONSE:
        onScanStarted(msg);
        break;
    case fc::ServerMessage::INTERRUPT_SCAN_RESPONSE:
        onScanInterrupted(msg);
        break;
    case fc::ServerMessage::SCAN_INFO_NOTIFICATION:
        onScanInfo(msg);
        break;
    case fc::ServerMessage::LIST_DIR_RESPONSE:
        onDirList(msg);
        break;
    case fc::ServerMessage::THREATS_NOTIFICATION:
        logReply(QStringLiteral("THREATS_NOTIFICATION"));
        emit threatsDetected(msg);
        break;
    case fc::ServerMessage::THREATS_OP_RESPONSE:
        logReply(QStringLiteral("THREATS_OP_RESPONSE"));
        if (const auto failed = takeFailedRequest(msg)) {
            emit threatOpError(failed->toInt(), msg.error().code());
        }
        break;
    case fc::ServerMessage::QUARANTINE_NOTIFICATION:
        logReply(QStringLiteral("QUARANTINE_NOTIFICATION"));
        emit quarantineUpdated(msg);
        break;
    case fc::ServerMessage::QUARANTINE_OP_RESPONSE:
        logReply(QStringLiteral("QUARANTINE_OP_RESPONSE"));
        if (const auto failed = takeFailedRequest(msg)) {
            emit quarantineOpError(failed->toString().toStdString(), msg.error().code());
        }
        break;
    case fc::ServerMessage::ENUMERATE_DISKS_RESPONSE:
        onDisks(msg);
        break;
    // Messages of the flow and proxy interfaces and of quarantine subscriptions, which this
    // client never asks for.
    case fc::ServerMessage::QUARANTINE_UNSUBSCRIBED:
    case fc::ServerMessage::OPEN_FLOW_RESPONSE:
    case fc::ServerMessage::CLOSE_FLOW_RESPONSE:
    case fc::ServerMessage::FLOW_ALARM:
    case fc::ServerMessage::OPEN_PROXY_RESPONSE:
    case fc::ServerMessage::PROXY_SCAN_RESPONSE:
    case fc::ServerMessage::PROXY_SUBMIT_THREAT_RESPONSE:
    case fc::ServerMessage::CLOSE_PROXY_RESPONSE:
    case fc::ServerMessage::PROXY_ALARM:
        qWarning("Unrecognized message from norvo-filecheck");
        break;
    }
}

void FcIPCLink::onScanStarted(const fc::ServerMessage& msg)
{
    logReply(QStringLiteral("START_SCAN_RESPONSE (task id = %1)").arg(msg.task_id()));
    // Tracked first, so that a receiver of the answer knows whether it named our task.
    const ScanTracker::Start start = m_tracker.onStartAnswer(msg);
    emit scanIsStarted(int(msg.task_id()));
    for (const nv::FileThreat& threat : m_tracker.takeEarlyThreats()) {
        emit threatFound(threat);
    }
    if (const quint64 dropped = m_tracker.summary().earlyThreatsDropped;
        dropped > 0 && start != ScanTracker::Start::NotOurs) {
        qWarning("%llu threats of task %u reported before norvo-filecheck named the task are "
                 "counted but not listed",
                 qulonglong(dropped), m_tracker.taskId());
    }
    switch (start) {
    case ScanTracker::Start::Refused:
        emit refused(errorCodeOf(msg.error()));
        break;
    case ScanTracker::Start::Finished:
        emit finished();
        break;
    case ScanTracker::Start::NotOurs:
    case ScanTracker::Start::Running:
        break;
    }
}

void FcIPCLink::onScanInterrupted(const fc::ServerMessage& msg)
{
    logReply(QStringLiteral("INTERRUPT_SCAN_RESPONSE (task id = %1)").arg(msg.task_id()));
    if (msg.has_error()) {
        emit interruptFailed(int(msg.task_id()), errorCodeOf(msg.error()));
    }
    emit scanIsInterrupted(int(msg.task_id()));
}

void FcIPCLink::onScanInfo(const fc::ServerMessage& msg)
{
    bool ended = false;
    for (const fc::ScanInfo& info : msg.info()) {
        // Tracked first, so that a receiver of the entry reads a summary that includes it.
        ended = m_tracker.onScanInfo(info) || ended;
        // Taken before the receivers run: one of them may read the next frame.
        const QList<int> news = m_tracker.newThreats();
        emit newScanInfo(info);
        for (const int place : news) {
            emit threatFound(info.threat(place));
        }
    }
    // Receivers see every entry of the notification before they learn that the scan is over.
    if (ended) {
        emit finished();
    }
}

void FcIPCLink::onDirList(const fc::ServerMessage& msg)
{
    logReply(QStringLiteral("LIST_DIR_RESPONSE"));
    if (msg.has_error()) {
        emit dirEntryListError(int(msg.serial()), msg.error().code());
        qDebug() << "LIST_DIR_RESPONSE error:" << int(msg.error().code());
        return;
    }
    emit dirEntryListReceived(int(msg.serial()), msg.direntry());
}

void FcIPCLink::onDisks(const fc::ServerMessage& msg)
{
    logReply(QStringLiteral("ENUMERATE_DISKS_RESPONSE"));
    m_disks = QList<nv::Disk>(msg.disks().begin(), msg.disks().end());
}

std::optional<QVariant> FcIPCLink::takeFailedRequest(const fc::ServerMessage& msg)
{
    const QVariant pending = m_pendingRequests.take(msg.serial());
    if (!pending.isValid() || !msg.has_error()) {
        return std::nullopt;
    }
    return pending;
}

void FcIPCLink::onError(QLocalSocket::LocalSocketError socketError)
{
    qWarning("Filecheck socket error: %d", int(socketError));
    // A wait that ran out leaves the connection as it was.
    if (socketError == QLocalSocket::SocketTimeoutError) {
        return;
    }
    emit connectionLost(socketError);
}
