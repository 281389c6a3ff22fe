#pragma once

#include "error.pb.h"
#include "fcheck_client_ipc.pb.h"

#include <QList>
#include <QPair>
#include <QSet>
#include <QString>
#include <optional>
#include <string>

// What the run knows of the scan it asked for, from the daemon's answer to the start request and
// from the scan information that the daemon sends every subscriber. Information about tasks that
// are not yet known to be ours is kept for a few tasks: a small task may be reported finished
// before the answer that names it arrives. A threat is counted once, by its id, however often the
// daemon repeats it.
class ScanTracker
{
public:
    struct Summary
    {
        quint32 taskId = 0;
        // As sent: a newer daemon's state may be none that this build names.
        fc::ScanState state = fc::SCAN_STATE_PENDING;
        bool traverseDone = false;
        quint64 filesToScan = 0;
        quint64 filesScanned = 0;
        QString scanningNow; // escaped, as the log shows a name
        quint64 threatsFound = 0;
        bool finished = false;
        // The daemon's result for a finished task, which may be a code that this build does not
        // know; none when the task ended without one.
        std::optional<nv::ErrorCode> finalStatus;
        // Threats of the task that the daemon reported before it named the task and that were
        // counted but not kept: the early buffer is bounded.
        quint64 earlyThreatsDropped = 0;
    };

    enum class Start {
        NotOurs,  // no request of ours is waiting for an answer
        Refused,  // the daemon refused our request; it may still have named a task
        Running,  // our task runs
        Finished, // our task had ended before the answer arrived
    };

    // How many tasks of unknown owner are followed while our start request is unanswered, and
    // how many bytes of their threats are kept in all.
    static constexpr int kEarlyTasks = 4;
    static constexpr qint64 kEarlyThreatBytes = qint64(1) << 20;

    // Forgets the previous scan: the next start answer is the one to our request.
    void expectStart();
    Start onStartAnswer(const fc::ServerMessage& answer);
    // True when the entry ends our scan.
    bool onScanInfo(const fc::ScanInfo& info);

    bool awaitingStart() const { return m_phase == Phase::AwaitingStart; }
    // Our task once the daemon has named it; 0 before. 0 is also a task id: taskNamed() tells.
    quint32 taskId() const { return m_current.summary.taskId; }
    bool taskNamed() const { return m_named; }
    // Brings the summary up to date first: read it again after later entries.
    const Summary& summary() const;
    // The threats that the entry just given to onScanInfo() reports of our task for the first
    // time, by their place in the entry.
    const QList<int>& newThreats() const { return m_newThreats; }
    // The threats of our task reported before the start answer named it; handed out once.
    QList<nv::FileThreat> takeEarlyThreats();

private:
    enum class Phase { Idle, AwaitingStart, Running };

    struct Record
    {
        Summary summary;
        // Decoding the file being scanned costs about as much as parsing a progress entry, and
        // the summary is read far less often than the daemon reports progress: the name is kept
        // as sent and decoded when the summary is read.
        std::string scanningNow;
        bool scanningNowDecoded = true;
        // The daemon repeats a threat in later entries; it is news only once.
        QSet<quint32> threatIds;
        // Kept only while the task is not known to be ours: its entries are gone by then.
        QList<nv::FileThreat> earlyThreats;
        qint64 earlyThreatBytes = 0;

        // Returns the places of the entry's threats that are news.
        QList<int> apply(const fc::ScanInfo& info);
    };

    Record* earlyRecord(quint32 taskId);
    void keepEarly(Record& record, const nv::FileThreat& threat);

    Phase m_phase = Phase::Idle;
    bool m_named = false;
    // The bytes of the threats kept in m_early.
    qint64 m_earlyBytes = 0;
    mutable Record m_current;
    QList<int> m_newThreats;
    QList<QPair<quint32, Record>> m_early;
};
