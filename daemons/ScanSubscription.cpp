#include "ScanSubscription.h"

ScanSubscription::ScanSubscription(const fc::ScanInfoOptions& options) : m_options(options) {}

bool ScanSubscription::select(const fc::ScanInfo& info, fc::ScanInfo* selected)
{
    selected->Clear();
    selected->set_task_id(info.task_id());
    selected->set_state(info.state());
    if (info.has_details()) {
        *selected->mutable_details() = info.details();
    }
    if (info.has_result()) {
        *selected->mutable_result() = info.result();
    }
    if (info.has_progress() && progressDue(info)) {
        *selected->mutable_progress() = info.progress();
    }
    if (m_options.report_clean()) {
        *selected->mutable_clean() = info.clean();
    }
    if (m_options.report_errors()) {
        *selected->mutable_error() = info.error();
    }
    if (m_options.report_threats()) {
        *selected->mutable_threat() = info.threat();
    }
    if (info.state() == fc::SCAN_STATE_FINISHED) {
        m_lastProgress.remove(info.task_id());
    }
    return selected->has_details() || selected->has_result() || selected->has_progress() ||
           selected->clean_size() > 0 || selected->error_size() > 0 || selected->threat_size() > 0;
}

bool ScanSubscription::progressDue(const fc::ScanInfo& info)
{
    // The start (with details) and the end (with a result) always carry progress; in between it
    // comes at most every progress_interval_ms, and not at all when that is 0.
    const bool startOrEnd = info.has_details() || info.has_result();
    const qint64 interval = m_options.progress_interval_ms();
    QElapsedTimer& last = m_lastProgress[info.task_id()];
    if (!startOrEnd && (interval == 0 || (last.isValid() && last.elapsed() < interval))) {
        return false;
    }
    last.start();
    return true;
}
