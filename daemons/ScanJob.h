#pragma once

#include "ProtocolMetaTypes.h"

#include <QFileInfo>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QTimer>

// One scan task of the stand-in file-check daemon. It walks the included paths minus the
// excluded ones and scans the files it finds a few at a time per timer tick, so that the daemon
// keeps answering, and can interrupt the task, while it runs. A file that begins with the
// anti-virus test signature is a threat.
class ScanJob : public QObject
{
    Q_OBJECT

public:
    // With `fileDelayMs` above 0 the task scans one file per tick, that many ms apart, so that a
    // test can catch it running.
    ScanJob(quint32 taskId, const fc::ScanRequest& request, const fc::ScanDetails& details,
            int fileDelayMs, QObject* parent = nullptr);

    quint32 taskId() const { return m_taskId; }

    // Reports the task running, then walks on from the event loop.
    void start();
    // Ends the task at once, as interrupted by the user.
    void interrupt();

signals:
    // The start, each tick's progress and findings, and last the end: SCAN_STATE_FINISHED with a
    // result.
    void scanInfo(const fc::ScanInfo& info);

private:
    void step();
    void addRoot(const QString& path, fc::ScanInfo* info);
    void listDirectory(const QString& path, fc::ScanInfo* info);
    void scanFile(const QString& path, fc::ScanInfo* info);
    void enqueue(const QFileInfo& entry);
    bool isExcluded(const QString& path) const;
    fc::ScanInfo newInfo(fc::ScanState state) const;
    fc::ScanProgress progress() const;
    void finish(nv::ErrorCode status, fc::ScanInfo info);

    const quint32 m_taskId;
    const fc::ScanRequest m_request;
    const fc::ScanDetails m_details;
    const int m_filesPerTick;
    QStringList m_excluded;
    QStringList m_directories; // waiting to be listed
    QStringList m_files;       // waiting to be scanned
    QSet<QString> m_visited;   // canonical paths, so that links and overlapping roots count once
    quint64 m_filesFound = 0;
    quint64 m_filesScanned = 0;
    QString m_scanningNow;
    QTimer m_timer;
    bool m_finished = false;
};
