#include "ScanProgressLog.h"

#include "FcIPCLink.h"

#include <QDebug>

namespace {

QString stateName(int state)
{
    switch (state) {
    case fc::SCAN_STATE_PENDING:
        return QStringLiteral("pending");
    case fc::SCAN_STATE_RUNNING:
        return QStringLiteral("running");
    case fc::SCAN_STATE_FINISHED:
        return QStringLiteral("finished");
    }
    return QString::number(state);
}

QString progressLine(const FcIPCLink::ScanSummary& summary)
{
    QString line = QStringLiteral("Scan progress: task %1 %2, ")
                       .arg(summary.taskId)
                       .arg(stateName(summary.state));
    // The total is only known once the daemon has walked the whole tree.
    if (summary.traverseDone && summary.filesToScan > 0) {
        line += QStringLiteral("%1 of %2 files scanned (%3%)")
                    .arg(summary.filesScanned)
                    .arg(summary.filesToScan)
                    .arg(summary.filesScanned * 100 / summary.filesToScan);
    } else {
        line += QStringLiteral("%1 files scanned").arg(summary.filesScanned);
    }
    line += QStringLiteral(", threats found: %1").arg(summary.threatsFound);
    if (!summary.scanningNow.isEmpty() && summary.state != fc::SCAN_STATE_FINISHED) {
        line += QStringLiteral(", scanning \"%1\"").arg(summary.scanningNow);
    }
    return line;
}

} // namespace

ScanProgressLog::ScanProgressLog(const FcIPCLink* link, QObject* parent)
    : QObject(parent), m_link(link)
{
}

void ScanProgressLog::onScanInfo(const fc::ScanInfo& info)
{
    const int taskId = m_link->currentTaskId();
    if (taskId == 0 || info.task_id() != quint32(taskId)) {
        return;
    }
    const bool stateChanged = info.state() != m_lastState;
    if (!stateChanged && m_sinceLine.isValid() && m_sinceLine.elapsed() < m_intervalMs) {
        return;
    }
    m_lastState = info.state();
    m_sinceLine.start();
    qInfo().noquote() << progressLine(m_link->scanSummary());
}
