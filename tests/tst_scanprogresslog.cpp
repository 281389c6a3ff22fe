#include "FcIPCLink.h"
#include "ScanProgressLog.h"
#include "ScanTask.h"
#include "TestSupport.h"

#include <QTest>
#include <limits>

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
    void absurdCounts_data();
    void absurdCounts();
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

void TestScanProgressLog::absurdCounts_data()
{
    QTest::addColumn<quint64>("scanned");
    QTest::addColumn<quint64>("toScan");
    QTest::addColumn<QString>("counts");

    const quint64 max = std::numeric_limits<quint64>::max();
    QTest::newRow("more scanned than found")
        << quint64(500) << quint64(100) << "500 of 100 files scanned (100%)";
    QTest::newRow("2^63 of 2^63") << (quint64(1) << 63) << (quint64(1) << 63)
                                  << "9223372036854775808 of 9223372036854775808 files scanned "
                                     "(100%)";
    QTest::newRow("one short of the largest total")
        << max - 1 << max << "18446744073709551614 of 18446744073709551615 files scanned (99%)";
    QTest::newRow("a third") << quint64(1) << quint64(3) << "1 of 3 files scanned (33%)";
}

// The daemon's counts are shown as sent; the percentage is exact and within 0 to 100.
void TestScanProgressLog::absurdCounts()
{
    QFETCH(quint64, scanned);
    QFETCH(quint64, toScan);
    QFETCH(QString, counts);

    SocketPair pair;
    FcIPCLink link(pair.client(), nullptr);
    ScanProgressLog progress(&link, nullptr);
    connect(&link, &FcIPCLink::newScanInfo, &progress, &ScanProgressLog::onScanInfo);
    link.scan(QSharedPointer<ScanTask>::create(ScanTask::FullScan), nv::LinuxGUIConfig(),
              std::string());
    fc::ServerMessage started;
    started.set_tag(fc::ServerMessage::START_SCAN_RESPONSE);
    started.set_task_id(kTask);
    LogCapture log;
    pair.peerWrite(frameOf(started) +
                   frameOf(info(kTask, fc::SCAN_STATE_RUNNING, scanned, toScan, "")));
    link.dataReceived();
    QCOMPARE(
        log.lines(QtInfoMsg),
        QStringList{
            QStringLiteral("Scan progress: task 7 running, %1, threats found: 0").arg(counts)});
}

QTEST_GUILESS_MAIN(TestScanProgressLog)
#include "tst_scanprogresslog.moc"
