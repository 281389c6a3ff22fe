#include "FcIPCLink.h"
#include "ScanProgressLog.h"
#include "ScanTask.h"
#include "TestSupport.h"

#include <QTest>

namespace {

const int kIntervalMs = 100;
const quint32 kTask = 7;

fc::ServerMessage info(quint32 taskId, fc::ScanState state, quint64 scanned, quint64 toScan,
                       const char* now, int threats = 0, nv::ErrorCode status = nv::EC_OK)
{
    fc::ServerMessage message;
    message.set_tag(fc::ServerMessage::SCAN_INFO_NOTIFICATION);
    fc::ScanInfo* entry = message.add_info();
    entry->set_task_id(taskId);
    entry->set_state(state);
    fc::ScanProgress* progress = entry->mutable_progress();
    progress->set_traverse_done(toScan > 0);
    progress->set_files_to_scan(toScan);
    progress->set_files_scanned(scanned);
    progress->set_scanning_now(now);
    for (int i = 0; i < threats; ++i) {
        nv::FileThreat* threat = entry->add_threat();
        threat->set_threat_id(quint32(i + 1));
        threat->set_detection_time(1);
        threat->mutable_report()->set_object(now);
        threat->mutable_stat()->set_dev(1);
        threat->mutable_stat()->set_ino(1);
        threat->set_origin(nv::APP_FILE_CHECK);
        threat->set_origin_pid(1);
    }
    if (state == fc::SCAN_STATE_FINISHED) {
        entry->mutable_result()->set_stop_time(1);
        entry->mutable_result()->set_final_status(status);
    }
    return message;
}

} // namespace

class TestScanProgressLog : public QObject
{
    Q_OBJECT

private slots:
    void linesPerStateAndInterval();
    void interruptedTaskSaysSo();
};

void TestScanProgressLog::linesPerStateAndInterval()
{
    SocketPair pair;
    FcIPCLink link(pair.client(), nullptr);
    ScanProgressLog progress(&link, nullptr);
    progress.setIntervalMs(kIntervalMs);
    connect(&link, &FcIPCLink::newScanInfo, &progress, &ScanProgressLog::onScanInfo);

    const auto deliver = [&](const fc::ServerMessage& message) {
        pair.peerWrite(frameOf(message));
        link.dataReceived();
    };
    // Before the daemon names the task nothing is ours.
    LogCapture log;
    deliver(info(kTask, fc::SCAN_STATE_RUNNING, 1, 0, "/srv/a"));
    link.scan(
        QSharedPointer<ScanTask>::create(ScanTask::CustomScan, QStringList{"/srv"}, false, false),
        nv::LinuxGUIConfig(), std::string());
    fc::ServerMessage started;
    started.set_tag(fc::ServerMessage::START_SCAN_RESPONSE);
    started.set_task_id(kTask);
    deliver(started);
    log.clear();

    deliver(info(kTask, fc::SCAN_STATE_PENDING, 0, 0, ""));
    deliver(info(kTask, fc::SCAN_STATE_RUNNING, 1, 0, "/srv/a"));
    deliver(info(kTask, fc::SCAN_STATE_RUNNING, 2, 0, "/srv/b", 1));
    deliver(info(kTask + 1, fc::SCAN_STATE_FINISHED, 9, 9, "/x"));
    QTest::qWait(kIntervalMs + 20);
    deliver(info(kTask + 1, fc::SCAN_STATE_RUNNING, 5, 9, "/x"));
    deliver(info(kTask, fc::SCAN_STATE_RUNNING, 3, 4, "/srv/c"));
    deliver(info(kTask, fc::SCAN_STATE_RUNNING, 4, 4, "/srv/d"));
    deliver(info(kTask, fc::SCAN_STATE_FINISHED, 4, 4, ""));

    QCOMPARE(log.lines(QtInfoMsg),
             (QStringList{
                 "Scan progress: task 7 pending, 0 files scanned, threats found: 0",
                 "Scan progress: task 7 running, 1 files scanned, threats found: 0, scanning "
                 "\"/srv/a\"",
                 "Scan progress: task 7 running, 3 of 4 files scanned (75%), threats found: 1, "
                 "scanning \"/srv/c\"",
                 "Scan progress: task 7 finished, 4 of 4 files scanned (100%), threats found: 1",
             }));
}

void TestScanProgressLog::interruptedTaskSaysSo()
{
    SocketPair pair;
    FcIPCLink link(pair.client(), nullptr);
    ScanProgressLog progress(&link, nullptr);
    connect(&link, &FcIPCLink::newScanInfo, &progress, &ScanProgressLog::onScanInfo);
    link.scan(
        QSharedPointer<ScanTask>::create(ScanTask::CustomScan, QStringList{"/srv"}, false, false),
        nv::LinuxGUIConfig(), std::string());
    fc::ServerMessage started;
    started.set_tag(fc::ServerMessage::START_SCAN_RESPONSE);
    started.set_task_id(kTask);
    pair.peerWrite(frameOf(started));
    link.dataReceived();

    LogCapture log;
    pair.peerWrite(
        frameOf(info(kTask, fc::SCAN_STATE_FINISHED, 8, 60, "", 0, nv::EC_INTERRUPTED_BY_USER)));
    link.dataReceived();
    QCOMPARE(log.lines(QtInfoMsg),
             QStringList{"Scan progress: task 7 interrupted, 8 of 60 files scanned (13%), threats "
                         "found: 0"});
}

QTEST_GUILESS_MAIN(TestScanProgressLog)
#include "tst_scanprogresslog.moc"
