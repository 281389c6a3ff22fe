#pragma once

#include <QElapsedTimer>
#include <QObject>

class FcIPCLink;
namespace fc {
class ScanInfo;
}

// Writes how the run's own scan is getting on: a line at each change of the task's state, and
// between them at most one line per interval, so that a long scan shows in the log without
// flooding it with the daemon's frequent notifications.
class ScanProgressLog : public QObject
{
    Q_OBJECT

public:
    static constexpr int kIntervalMs = 30000;

    ScanProgressLog(const FcIPCLink* link, QObject* parent);

    // Tests shorten the interval; the program keeps kIntervalMs.
    void setIntervalMs(int ms) { m_intervalMs = ms; }

public slots:
    void onScanInfo(const fc::ScanInfo& info);

private:
    const FcIPCLink* m_link;
    int m_intervalMs = kIntervalMs;
    int m_lastState = 0;
    QElapsedTimer m_sinceLine;
};
