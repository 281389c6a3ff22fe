#pragma once

#include "IPCLink.h"
#include "ProtocolMetaTypes.h"
#include "ScanTracker.h"

#include <QList>
#include <QMap>
#include <QSharedPointer>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <optional>
#include <string>

class ScanTask;
Q_MOC_INCLUDE("ScanTask.h")

// Client of the file-check daemon: builds its requests from tasks, configurations and ids, and
// turns its replies and notifications into signals.
class FcIPCLink : public IPCLink
{
    Q_OBJECT

public:
    // What the link has learnt about the scan it started, for the run's progress and closing
    // lines.
    using ScanSummary = ScanTracker::Summary;

    FcIPCLink(QLocalSocket* socket, QObject* parent);

    void processMessage(const QByteArray& body) override;
    void request(int kind) override;

    // Returns the serial that the answer will carry.
    quint32 listDir(const QString& path, const std::string& token);
    // Blocks until the daemon answers or waitMs() passes; the disks known after the wait.
    QList<nv::Disk> enumerateDisks();

    const QStringList& includedPaths() const { return m_includedPaths; }
    void setIncludedPaths(const QStringList& paths) { m_includedPaths = paths; }
    const QStringList& excludedPaths() const { return m_excludedPaths; }
    void setExcludedPaths(const QStringList& paths) { m_excludedPaths = paths; }
    int currentThreatId() const { return m_currentThreatId; }
    void setCurrentThreatId(int threatId) { m_currentThreatId = threatId; }
    // The task of the scan started by scan(), once the daemon has named it; 0 before, and 0 is a
    // task id as well: taskNamed() tells them apart.
    int currentTaskId() const { return int(m_tracker.taskId()); }
    bool taskNamed() const { return m_tracker.taskNamed(); }
    const QMap<quint32, QVariant>& pendingRequests() const { return m_pendingRequests; }
    const QList<nv::Disk>& disks() const { return m_disks; }
    // Brings the summary up to date first: read it again after later entries.
    const ScanSummary& scanSummary() const { return m_tracker.summary(); }

signals:
    void threatsDetected(const fc::ServerMessage& msg);
    void quarantineUpdated(const fc::ServerMessage& msg);
    void scanIsStarted(int taskId);
    void scanIsInterrupted(int taskId);
    void threatOpError(int threatId, nv::ErrorCode ec);
    void quarantineOpError(const std::string& entryId, nv::ErrorCode ec);
    void newScanInfo(const fc::ScanInfo& info);
    void dirEntryListReceived(int serial, const RepeatedDirEntry& entries);
    void dirEntryListError(int serial, nv::ErrorCode ec);
    // The scan started by scan() has ended; scanSummary() holds its outcome.
    void finished();
    // The daemon answered the request of scan() with an error. When the answer named a task
    // nonetheless, taskNamed() is true and the link follows that task.
    void refused(nv::ErrorCode code);
    // The daemon answered an interruption with an error; scanIsInterrupted() follows as for
    // any answer.
    void interruptFailed(int taskId, nv::ErrorCode code);
    // A threat of the scan started by scan(), once per threat.
    void threatFound(const nv::FileThreat& threat);
    // The connection failed or was closed; a time-out of a wait is not a failure.
    void connectionLost(QLocalSocket::LocalSocketError cause);

public slots:
    void onError(QLocalSocket::LocalSocketError socketError) override;
    // False when nothing could be sent: no task, or no connection.
    bool scan(const QSharedPointer<ScanTask>& task, const nv::LinuxGUIConfig& config,
              const std::string& token);
    void neutralizeByAction(nv::FileAction action, int threatId, const std::string& token);
    void neutralize(int threatId, const nv::LinuxGUIConfig& config, const std::string& token);
    void interruptScan(int taskId, const std::string& token);
    void doActionWithQEntry(nv::QEntryAction action, const QList<std::string>& params,
                            const std::string& token);
    void restoryQEntry(const QString& entryId, const QString& chunkId, const QString& restoryPath);

private:
    // Threat and quarantine operations are remembered until their answer, which names them only
    // by serial.
    void sendThreatOp(fc::ClientMessage& msg, int threatId, const std::string& token);
    void sendQuarantineOp(fc::ClientMessage& msg, const std::string& entryId,
                          const std::string& chunkId, const std::string& token);
    static void applyConfig(fc::ScanRequest& scanRequest, const nv::LinuxGUIConfig& config);

    void onScanStarted(const fc::ServerMessage& msg);
    void onScanInterrupted(const fc::ServerMessage& msg);
    void onScanInfo(const fc::ServerMessage& msg);
    void onDirList(const fc::ServerMessage& msg);
    void onDisks(const fc::ServerMessage& msg);
    // Forgets the request that a reply answers; the recorded id when the reply reports its
    // failure.
    std::optional<QVariant> takeFailedRequest(const fc::ServerMessage& msg);

    QStringList m_includedPaths;
    QStringList m_excludedPaths;
    int m_currentThreatId = 0;
    QMap<quint32, QVariant> m_pendingRequests;
    QList<nv::Disk> m_disks;
    ScanTracker m_tracker;
    // The message that frames are parsed into, and whether a frame is being handled in it.
    fc::ServerMessage m_message;
    bool m_parsing = false;
};
