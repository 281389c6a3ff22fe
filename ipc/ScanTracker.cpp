#include "ScanTracker.h"

#include "EscapedName.h"

#include <utility>

void ScanTracker::expectStart()
{
    m_phase = Phase::AwaitingStart;
    m_current = Record();
    m_early.clear();
}

ScanTracker::Start ScanTracker::onStartAnswer(const fc::ServerMessage& answer)
{
    // Only the answer to our own request names our task; the daemon answers requests in order.
    if (m_phase != Phase::AwaitingStart) {
        return Start::NotOurs;
    }
    if (answer.has_error()) {
        m_phase = Phase::Idle;
        m_early.clear();
        return Start::Refused;
    }
    const quint32 taskId = answer.task_id();
    if (Record* early = earlyRecord(taskId)) {
        m_current = *early;
    }
    m_early.clear();
    m_current.summary.taskId = taskId;
    if (m_current.summary.finished) {
        m_phase = Phase::Idle;
        return Start::Finished;
    }
    m_phase = Phase::Running;
    return Start::Running;
}

bool ScanTracker::onScanInfo(const fc::ScanInfo& info)
{
    m_newThreats.clear();
    if (m_phase == Phase::AwaitingStart) {
        Record* record = earlyRecord(info.task_id());
        if (!record) {
            if (m_early.size() == kEarlyTasks) {
                m_early.removeFirst();
            }
            m_early.append({info.task_id(), Record()});
            record = &m_early.last().second;
        }
        for (const int place : record->apply(info)) {
            record->earlyThreats.append(info.threat(place));
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
    summary.state = info.state();
    if (info.has_progress()) {
        const fc::ScanProgress& progress = info.progress();
        summary.traverseDone = progress.traverse_done();
        summary.filesToScan = progress.files_to_scan();
        summary.filesScanned = progress.files_scanned();
        scanningNow = progress.scanning_now();
        scanningNowDecoded = false;
    }
    summary.threatsFound += quint64(info.threat_size());
    QList<int> news;
    for (int place = 0; place < info.threat_size(); ++place) {
        // One look-up: the set grows only by an id it did not hold.
        const qsizetype known = threatIds.size();
        threatIds.insert(info.threat(place).threat_id());
        if (threatIds.size() != known) {
            news.append(place);
        }
    }
    if (info.state() == fc::SCAN_STATE_FINISHED) {
        summary.finished = true;
        if (info.has_result()) {
            summary.finalStatus = info.result().final_status();
        }
    }
    return news;
}
