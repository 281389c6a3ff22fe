#include "ScanTracker.h"

#include "EscapedName.h"
#include "LenientParser.h"

#include <utility>

namespace {

fc::ScanState stateOf(const fc::ScanInfo& info)
{
    return LenientParser::asSent(info, fc::ScanInfo::kStateFieldNumber, info.has_state(),
                                 info.state());
}

std::optional<nv::ErrorCode> finalStatusOf(const fc::ScanResult& result)
{
    if (result.has_final_status()) {
        return result.final_status();
    }
    if (const auto code =
            LenientParser::unknownEnum(result, fc::ScanResult::kFinalStatusFieldNumber)) {
        return nv::ErrorCode(*code);
    }
    return std::nullopt;
}

} // namespace

void ScanTracker::expectStart()
{
    m_phase = Phase::AwaitingStart;
    m_named = false;
    m_current = Record();
    m_early.clear();
    m_earlyBytes = 0;
}

ScanTracker::Start ScanTracker::onStartAnswer(const fc::ServerMessage& answer)
{
    // Only the answer to our own request names our task; the daemon answers requests in order.
    if (m_phase != Phase::AwaitingStart) {
        return Start::NotOurs;
    }
    // A refusal that names a task leaves that task to be followed like any other of ours: the
    // daemon may run it.
    const bool refused = answer.has_error();
    if (refused && !answer.has_task_id()) {
        m_phase = Phase::Idle;
        m_early.clear();
        m_earlyBytes = 0;
        return Start::Refused;
    }
    const quint32 taskId = answer.task_id();
    if (Record* early = earlyRecord(taskId)) {
        m_current = *early;
    }
    m_early.clear();
    m_earlyBytes = 0;
    m_named = true;
    m_current.summary.taskId = taskId;
    m_phase = m_current.summary.finished ? Phase::Idle : Phase::Running;
    if (refused) {
        return Start::Refused;
    }
    return m_current.summary.finished ? Start::Finished : Start::Running;
}

bool ScanTracker::onScanInfo(const fc::ScanInfo& info)
{
    m_newThreats.clear();
    if (m_phase == Phase::AwaitingStart) {
        Record* record = earlyRecord(info.task_id());
        if (!record) {
            if (m_early.size() == kEarlyTasks) {
                m_earlyBytes -= m_early.first().second.earlyThreatBytes;
                m_early.removeFirst();
            }
            m_early.append({info.task_id(), Record()});
            record = &m_early.last().second;
        }
        for (const int place : record->apply(info)) {
            keepEarly(*record, info.threat(place));
        }
        return false;
    }
    // Other clients' tasks are reported to every subscriber and must not end our run.
    if (m_phase != Phase::Running || info.task_id() != m_current.summary.taskId) {
        return false;
    }
    m_newThreats = m_current.apply(info);
    if (!m_current.summary.finished) {
        return false;
    }
    m_phase = Phase::Idle;
    return true;
}

const ScanTracker::Summary& ScanTracker::summary() const
{
    if (!m_current.scanningNowDecoded) {
        m_current.summary.scanningNow = escapedName(
            QByteArray::fromStdString(m_current.scanningNow.substr(0, size_t(kMaxNameBytes))));
        m_current.scanningNowDecoded = true;
    }
    return m_current.summary;
}

QList<nv::FileThreat> ScanTracker::takeEarlyThreats()
{
    return std::exchange(m_current.earlyThreats, {});
}

void ScanTracker::keepEarly(Record& record, const nv::FileThreat& threat)
{
    const qint64 bytes = qint64(threat.ByteSizeLong());
    if (m_earlyBytes + bytes > kEarlyThreatBytes) {
        ++record.summary.earlyThreatsDropped;
        return;
    }
    m_earlyBytes += bytes;
    record.earlyThreatBytes += bytes;
    record.earlyThreats.append(threat);
}

ScanTracker::Record* ScanTracker::earlyRecord(quint32 taskId)
{
    for (auto& [id, record] : m_early) {
        if (id == taskId) {
            return &record;
        }
    }
    return nullptr;
}

QList<int> ScanTracker::Record::apply(const fc::ScanInfo& info)
{
    summary.state = stateOf(info);
    if (info.has_progress()) {
        const fc::ScanProgress& progress = info.progress();
        summary.traverseDone = progress.traverse_done();
        summary.filesToScan = progress.files_to_scan();
        summary.filesScanned = progress.files_scanned();
        scanningNow = progress.scanning_now();
        scanningNowDecoded = false;
    }
    QList<int> news;
    for (int place = 0; place < info.threat_size(); ++place) {
        // One look-up: the set grows only by an id it did not hold.
        const qsizetype known = threatIds.size();
        threatIds.insert(info.threat(place).threat_id());
        if (threatIds.size() != known) {
            news.append(place);
        }
    }
    summary.threatsFound = quint64(threatIds.size());
    if (summary.state == fc::SCAN_STATE_FINISHED) {
        summary.finished = true;
        if (info.has_result()) {
            summary.finalStatus = finalStatusOf(info.result());
        }
    }
    return news;
}
