#include "FilecheckSim.h"

#include "ScanJob.h"
#include "SimLink.h"

#include <QDateTime>
#include <QDir>

namespace {
using Request = fc::ClientMessage;
using Answer = fc::ServerMessage;

// The answer that pairs with each client message. The numbers differ in many rows; the ends of
// subscriptions and the flow and proxy notifications have no answer.
std::optional<Answer::ServerMessageTag> answerTag(Request::ClientMessageTag tag)
{
    switch (tag) {
    case Request::START_SCAN_REQUEST:
        return Answer::START_SCAN_RESPONSE;
    case Request::INTERRUPT_SCAN_REQUEST:
        return Answer::INTERRUPT_SCAN_RESPONSE;
    case Request::SUBSCRIBE_TO_SCAN_INFO:
        return Answer::SCAN_INFO_NOTIFICATION;
    case Request::LIST_DIR_REQUEST:
        return Answer::LIST_DIR_RESPONSE;
    case Request::SUBSCRIBE_TO_THREATS:
        return Answer::THREATS_NOTIFICATION;
    case Request::QUARANTINE_THREAT_REQUEST:
    case Request::DELETE_THREAT_REQUEST:
    case Request::CURE_THREAT_REQUEST:
    case Request::IGNORE_THREAT_REQUEST:
    case Request::NEUTRALIZE_THREAT_REQUEST:
        return Answer::THREATS_OP_RESPONSE;
    case Request::SUBSCRIBE_TO_QUARANTINE:
        return Answer::QUARANTINE_NOTIFICATION;
    case Request::UNSUBSCRIBE_FROM_QUARANTINE:
        return Answer::QUARANTINE_UNSUBSCRIBED;
    case Request::DELETE_QENTRY_REQUEST:
    case Request::RESTORE_QENTRY_REQUEST:
        return Answer::QUARANTINE_OP_RESPONSE;
    case Request::OPEN_FLOW_REQUEST:
        return Answer::OPEN_FLOW_RESPONSE;
    case Request::CLOSE_FLOW_REQUEST:
        return Answer::CLOSE_FLOW_RESPONSE;
    case Request::OPEN_PROXY_REQUEST:
        return Answer::OPEN_PROXY_RESPONSE;
    case Request::PROXY_SCAN_REQUEST:
        return Answer::PROXY_SCAN_RESPONSE;
    case Request::PROXY_SUBMIT_THREAT_REQUEST:
        return Answer::PROXY_SUBMIT_THREAT_RESPONSE;
    case Request::CLOSE_PROXY_REQUEST:
        return Answer::CLOSE_PROXY_RESPONSE;
    case Request::ENUMERATE_DISKS_REQUEST:
        return Answer::ENUMERATE_DISKS_RESPONSE;
    case Request::UNSUBSCRIBE_FROM_SCAN_INFO:
    case Request::UNSUBSCRIBE_FROM_THREATS:
    case Request::FLOW_OPTIONS_NOTIFICATION:
    case Request::FLOW_DATA_NOTIFICATION:
    case Request::PROXY_OPTIONS_NOTIFICATION:
        break;
    }
    return std::nullopt;
}

// An answer with the given tag that carries back the request's serial, by which clients match
// answers to their pending requests.
Answer answerTo(const Request& request, Answer::ServerMessageTag tag)
{
    Answer answer;
    answer.set_tag(tag);
    if (request.has_serial()) {
        answer.set_serial(request.serial());
    }
    return answer;
}

QString pathOf(const std::string& bytes)
{
    return QFile::decodeName(QByteArray::fromStdString(bytes));
}
} // namespace

FilecheckSim::FilecheckSim(const Behaviour& behaviour, QObject* parent)
    : SimServer(QString::fromLatin1(kName), parent), m_behaviour(behaviour),
      m_nextTaskId(behaviour.firstTaskId)
{
}

void FilecheckSim::received(SimLink* link, const QByteArray& body)
{
    Request request;
    if (!read(body, &request)) {
        return;
    }
    switch (request.tag()) {
    case Request::START_SCAN_REQUEST:
        startScan(link, request);
        break;
    case Request::INTERRUPT_SCAN_REQUEST:
        interruptScan(link, request);
        break;
    case Request::SUBSCRIBE_TO_SCAN_INFO:
        m_subscribers.insert(link, ScanSubscription(request.info_options()));
        break;
    case Request::UNSUBSCRIBE_FROM_SCAN_INFO:
        m_subscribers.remove(link);
        break;
    case Request::LIST_DIR_REQUEST:
        reply(link, listDirectory(request));
        break;
    case Request::ENUMERATE_DISKS_REQUEST:
        // A stand-in owns no disks: the empty list is its whole answer.
        reply(link, answerTo(request, Answer::ENUMERATE_DISKS_RESPONSE));
        break;
    default:
        answerNotImplemented(link, request);
        break;
    }
}

void FilecheckSim::closed(SimLink* link)
{
    m_subscribers.remove(link);
}

void FilecheckSim::startScan(SimLink* link, const Request& request)
{
    Answer answer = answerTo(request, Answer::START_SCAN_RESPONSE);
    if (m_behaviour.refuseScan) {
        answer.set_task_id(0);
        setError(&answer, *m_behaviour.refuseScan, QStringLiteral("as told by --refuse-scan"));
        reply(link, answer);
        return;
    }
    if (!request.has_scan_request()) {
        answer.set_task_id(0);
        setError(&answer, nv::EC_INVALID_ARGUMENT, QStringLiteral("no scan_request"));
        reply(link, answer);
        return;
    }
    const fc::ScanRequest& scanRequest = request.scan_request();
    fc::ScanDetails details;
    details.set_origin(scanRequest.origin());
    details.set_origin_pid(scanRequest.origin_pid());
    details.set_origin_uid(link->peerUid());
    details.set_enqueue_time(quint64(QDateTime::currentSecsSinceEpoch()));
    if (scanRequest.has_comment()) {
        details.set_comment(scanRequest.comment());
    }
    const quint32 taskId = m_nextTaskId++;
    auto* job = new ScanJob(taskId, scanRequest, details, m_behaviour.scanDelayMs, this);
    connect(job, &ScanJob::scanInfo, this, &FilecheckSim::publish);
    m_jobs.insert(taskId, job);

    answer.set_task_id(taskId);
    reply(link, answer);
    job->start();
}

void FilecheckSim::interruptScan(SimLink* link, const Request& request)
{
    if (!m_behaviour.answerInterrupt) {
        log().note(QStringLiteral("left unanswered, as told by --no-answer-interrupt"));
        return;
    }
    Answer answer = answerTo(request, Answer::INTERRUPT_SCAN_RESPONSE);
    answer.set_task_id(request.task_id());
    ScanJob* job = m_jobs.value(request.task_id());
    if (!job) {
        setError(&answer, nv::EC_RECORD_NOT_FOUND, QStringLiteral("no such running task"));
    }
    reply(link, answer);
    if (job) {
        job->interrupt();
    }
}

Answer FilecheckSim::listDirectory(const Request& request) const
{
    Answer answer = answerTo(request, Answer::LIST_DIR_RESPONSE);
    const QFileInfo directory(pathOf(request.path()));
    nv::ErrorCode result = nv::EC_OK;
    if (directory.isRelative()) {
        result = nv::EC_NOT_ABSOLUTE_PATH;
    } else if (!directory.exists()) {
        result = nv::EC_NO_SUCH_ENTRY;
    } else if (!directory.isDir()) {
        result = nv::EC_NOT_A_DIRECTORY;
    } else if (!directory.isReadable()) {
        result = nv::EC_PERMISSION_DENIED;
    } else {
        const QDir::Filters filters =
            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
        for (const QFileInfo& entry :
             QDir(directory.filePath()).entryInfoList(filters, QDir::Name)) {
            fc::DirEntry* dirEntry = answer.add_direntry();
            dirEntry->set_name(QFile::encodeName(entry.fileName()).toStdString());
            dirEntry->set_is_directory(entry.isDir());
        }
    }
    answer.set_list_result(result);
    return answer;
}

void FilecheckSim::answerNotImplemented(SimLink* link, const Request& request)
{
    const std::optional<Answer::ServerMessageTag> tag = answerTag(request.tag());
    if (!tag) {
        return;
    }
    Answer answer = answerTo(request, *tag);
    setError(&answer, nv::EC_NOT_IMPLEMENTED, QString::fromLatin1(kNotServed));
    reply(link, answer);
}

void FilecheckSim::publish(const fc::ScanInfo& info)
{
    for (const nv::FileThreat& threat : info.threat()) {
        log().note(QStringLiteral("task %1: %2 in %3")
                       .arg(info.task_id())
                       .arg(QString::fromStdString(threat.report().virus(0).name()),
                            pathOf(threat.report().object())));
    }
    const bool finished = info.state() == fc::SCAN_STATE_FINISHED;
    if (finished) {
        log().note(
            QStringLiteral("task %1 finished: %2, %3 of %4 files scanned")
                .arg(info.task_id())
                .arg(QString::fromStdString(nv::ErrorCode_Name(info.result().final_status())))
                .arg(info.progress().files_scanned())
                .arg(info.progress().files_to_scan()));
    }
    // Serving one subscriber can drop another whose connection turns out to be gone.
    const QList<SimLink*> links = m_subscribers.keys();
    for (SimLink* link : links) {
        const auto subscription = m_subscribers.find(link);
        if (subscription == m_subscribers.end()) {
            continue;
        }
        Answer notification;
        notification.set_tag(Answer::SCAN_INFO_NOTIFICATION);
        if (subscription->select(info, notification.add_info())) {
            link->send(notification);
        }
    }
    if (finished) {
        m_jobs.take(info.task_id())->deleteLater();
    }
}
