#include "ScanProgressLog.h"

#include "FcIPCLink.h"

#include <QDebug>

namespace {

QString stateName(const FcIPCLink::ScanSummary& summary)
{
    // The daemon reports an interrupted task as finished, with its reason as the result.
    if (summary.finalStatus == nv::EC_INTERRUPTED_BY_USER) {
        return QStringLiteral("interrupted");
    }
    switch (summary.state) {
    case fc::SCAN_STATE_PENDING:
        return QStringLiteral("pending");
    case fc::SCAN_STATE_RUNNING:
        return QStringLiteral("running");
    case fc::SCAN_STATE_FINISHED:
        return QStringLiteral("finished");
    }
    return QString::number(summary.state);
}

// Exact for any count a daemon may send, and never above 100 when it counts more files scanned
// than it found.
quint64 percent(quint64 done, quint64 total)
{
    if (done >= total) {
        return 100;
    }
    return quint64((unsigned __int128)done * 100 / total);
}

QString progressLine(const FcIPCLink::ScanSummary& summary)
{
    QString line =
        QStringLiteral("Scan progress: task %1 %2, ").arg(summary.taskId).arg(stateName(summary));
    // The total is only known once the daemon has walked the whole tree.
    if (summary.traverseDone && summary.filesToScan > 0) {
        line += QStringLiteral("%1 of %2 files scanned (%3%)")
                    .arg(summary.filesScanned)
                    .arg(summary.filesToScan)
                    .arg(percent(summary.filesScanned, summary.filesToScan));
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
    if (!m_link->taskNamed() || info.task_id() != quint32(m_link->currentTaskId())) {
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
