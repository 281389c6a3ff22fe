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
// before the answer that names it arrives.
class ScanTracker
{
public:
    struct Summary
    {
        quint32 taskId = 0;
        fc::ScanState state = fc::SCAN_STATE_PENDING;
        bool traverseDone = false;
        quint64 filesToScan = 0;
        quint64 filesScanned = 0;
        QString scanningNow; // escaped, as the log shows a name
        quint64 threatsFound = 0;
        bool finished = false;
        // The daemon's result for a finished task; none when the task ended without one.
        std::optional<nv::ErrorCode> finalStatus;
    };

    enum class Start {
        NotOurs,  // no request of ours is waiting for an answer
        Refused,  // the daemon refused our request
        Running,  // our task runs
        Finished, // our task had ended before the answer arrived
    };

    // How many tasks of unknown owner are followed while our start request is unanswered.
    static constexpr int kEarlyTasks = 4;

    // Forgets the previous scan: the next start answer is the one to our request.
    void expectStart();
    Start onStartAnswer(const fc::ServerMessage& answer);
    // True when the entry ends our scan.
    bool onScanInfo(const fc::ScanInfo& info);

    bool awaitingStart() const { return m_phase == Phase::AwaitingStart; }
    // Our task once the daemon has named it; 0 before.
    quint32 taskId() const { return m_current.summary.taskId; }
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

        // Returns the places of the entry's threats that are news.
        QList<int> apply(const fc::ScanInfo& info);
    };

    Record* earlyRecord(quint32 taskId);

    Phase m_phase = Phase::Idle;
    mutable Record m_current;
    QList<int> m_newThreats;
    QList<QPair<quint32, Record>> m_early;
};
