// Which of the daemon's scan information belongs to the run's scan, and what the run learns from
// it: no socket involved.

#include "ScanTracker.h"

#include <QTest>

namespace {

using Events = QList<fc::ServerMessage>;

// A refusal that names no task.
fc::ServerMessage refusal(nv::ErrorCode error)
{
    fc::ServerMessage msg;
    msg.set_tag(fc::ServerMessage::START_SCAN_RESPONSE);
    msg.mutable_error()->set_code(error);
    return msg;
}

fc::ServerMessage started(quint32 taskId, nv::ErrorCode error = nv::EC_OK)
{
    fc::ServerMessage msg;
    msg.set_tag(fc::ServerMessage::START_SCAN_RESPONSE);
    msg.set_task_id(taskId);
    if (error != nv::EC_OK) {
        msg.mutable_error()->set_code(error);
    }
    return msg;
}

// One entry; `status` -1 leaves a finished task without its result.
fc::ServerMessage entry(quint32 taskId, fc::ScanState state, quint64 scanned = 0, int threats = 0,
                        int status = nv::EC_OK)
{
    fc::ServerMessage msg;
    msg.set_tag(fc::ServerMessage::SCAN_INFO_NOTIFICATION);
    fc::ScanInfo* info = msg.add_info();
    info->set_task_id(taskId);
    info->set_state(state);
    fc::ScanProgress* progress = info->mutable_progress();
    progress->set_traverse_done(true);
    progress->set_files_to_scan(10);
    progress->set_files_scanned(scanned);
    for (int n = 0; n < threats; ++n) {
        info->add_threat()->set_threat_id(quint32(n + 1));
    }
    if (state == fc::SCAN_STATE_FINISHED && status >= 0) {
        info->mutable_result()->set_stop_time(1);
        info->mutable_result()->set_final_status(nv::ErrorCode(status));
    }
    return msg;
}

fc::ServerMessage finished(quint32 taskId, quint64 scanned = 10, int status = nv::EC_OK)
{
    return entry(taskId, fc::SCAN_STATE_FINISHED, scanned, 0, status);
}

const char* startName(ScanTracker::Start start)
{
    switch (start) {
    case ScanTracker::Start::NotOurs:
        return "not ours";
    case ScanTracker::Start::Refused:
        return "refused";
    case ScanTracker::Start::Running:
        return "running";
    case ScanTracker::Start::Finished:
        return "finished";
    }
    return "?";
}

} // namespace

class TestScanTracker : public QObject
{
    Q_OBJECT

private slots:
    void follow_data();
    void follow();
    void earlyThreatsBoundedInBytes();
};

void TestScanTracker::follow_data()
{
    QTest::addColumn<bool>("requested");
    QTest::addColumn<Events>("events");
    // What each start answer was taken as, and "ends" where an entry ended the scan.
    QTest::addColumn<QStringList>("trace");
    QTest::addColumn<int>("taskId");
    QTest::addColumn<bool>("ended");
    QTest::addColumn<int>("status"); // -1: unknown
    QTest::addColumn<int>("scanned");
    QTest::addColumn<int>("threats");

    const auto R = fc::SCAN_STATE_RUNNING;
    QTest::newRow("ours runs and finishes")
        << true << Events{started(12), entry(12, R, 4, 1), finished(12, 10, nv::EC_CANCELED)}
        << QStringList{"running", "ends"} << 12 << true << int(nv::EC_CANCELED) << 10 << 1;
    QTest::newRow("another task's entries leave ours alone")
        << true << Events{started(12), entry(13, R, 7, 2), finished(13)} << QStringList{"running"}
        << 12 << false << -1 << 0 << 0;
    QTest::newRow("ours finished before the answer named it")
        << true << Events{entry(12, R, 3, 1), finished(12, 5), started(12)}
        << QStringList{"finished"} << 12 << true << int(nv::EC_OK) << 5 << 1;
    QTest::newRow("ours ran before the answer named it")
        << true << Events{entry(12, R, 3, 1), started(12), finished(12, 9)}
        << QStringList{"running", "ends"} << 12 << true << int(nv::EC_OK) << 9 << 1;
    QTest::newRow("early entries of other tasks are dropped")
        << true << Events{finished(13), started(12)} << QStringList{"running"} << 12 << false << -1
        << 0 << 0;
    {
        // Only the latest few tasks are kept: the oldest, ours, has been let go.
        Events events{finished(1)};
        for (quint32 task = 2; task <= ScanTracker::kEarlyTasks + 1; ++task) {
            events << entry(task, R);
        }
        events << started(1);
        QTest::newRow("more early tasks than are kept")
            << true << events << QStringList{"running"} << 1 << false << -1 << 0 << 0;
    }
    QTest::newRow("finished without a result")
        << true << Events{started(12), finished(12, 10, -1)} << QStringList{"running", "ends"} << 12
        << true << -1 << 10 << 0;
    QTest::newRow("finish reported twice ends once")
        << true << Events{started(12), finished(12), finished(12)} << QStringList{"running", "ends"}
        << 12 << true << int(nv::EC_OK) << 10 << 0;
    QTest::newRow("refused") << true << Events{refusal(nv::EC_NOT_READY), finished(0)}
                             << QStringList{"refused"} << 0 << false << -1 << 0 << 0;
    QTest::newRow("refused, yet naming a task that runs")
        << true << Events{started(12, nv::EC_NOT_READY), entry(12, R, 3), finished(12)}
        << QStringList{"refused", "ends"} << 12 << true << int(nv::EC_OK) << 10 << 0;
    QTest::newRow("task 0 is a task like any other")
        << true << Events{started(0), entry(0, R, 3, 1), finished(0)}
        << QStringList{"running", "ends"} << 0 << true << int(nv::EC_OK) << 10 << 1;
    QTest::newRow("threats repeated in later entries count once")
        << true << Events{entry(12, R, 1, 2), started(12), entry(12, R, 3, 2), entry(12, R, 4, 3)}
        << QStringList{"running"} << 12 << false << -1 << 4 << 3;
    QTest::newRow("an answer to a request of somebody else")
        << false << Events{started(12), finished(12)} << QStringList{"not ours"} << 0 << false << -1
        << 0 << 0;
}

void TestScanTracker::follow()
{
    QFETCH(bool, requested);
    QFETCH(Events, events);
    QFETCH(QStringList, trace);
    QFETCH(int, taskId);
    QFETCH(bool, ended);
    QFETCH(int, status);
    QFETCH(int, scanned);
    QFETCH(int, threats);

    ScanTracker tracker;
    if (requested) {
        tracker.expectStart();
    }
    QStringList seen;
    for (const fc::ServerMessage& event : events) {
        if (event.tag() == fc::ServerMessage::START_SCAN_RESPONSE) {
            seen << startName(tracker.onStartAnswer(event));
            continue;
        }
        for (const fc::ScanInfo& info : event.info()) {
            if (tracker.onScanInfo(info)) {
                seen << "ends";
            }
        }
    }
    QCOMPARE(seen, trace);
    const ScanTracker::Summary& summary = tracker.summary();
    QCOMPARE(int(tracker.taskId()), taskId);
    QCOMPARE(summary.finished, ended);
    QCOMPARE(summary.finalStatus ? int(*summary.finalStatus) : -1, status);
    QCOMPARE(int(summary.filesScanned), scanned);
    QCOMPARE(int(summary.threatsFound), threats);
}

// A flood of threats before the answer names the task: all are counted, the ones kept for the
// report stay within the bound.
void TestScanTracker::earlyThreatsBoundedInBytes()
{
    const int sent = 20;
    fc::ServerMessage flood = entry(12, fc::SCAN_STATE_RUNNING, 1, sent);
    for (nv::FileThreat& threat : *flood.mutable_info(0)->mutable_threat()) {
        threat.mutable_report()->set_object(std::string(100 * 1024, 'x'));
    }
    ScanTracker tracker;
    tracker.expectStart();
    tracker.onScanInfo(flood.info(0));
    QCOMPARE(startName(tracker.onStartAnswer(started(12))), "running");

    const QList<nv::FileThreat> kept = tracker.takeEarlyThreats();
    qint64 keptBytes = 0;
    for (const nv::FileThreat& threat : kept) {
        keptBytes += qint64(threat.ByteSizeLong());
    }
    QVERIFY2(kept.size() > 0 && kept.size() < sent, qPrintable(QString::number(kept.size())));
    QVERIFY(keptBytes <= ScanTracker::kEarlyThreatBytes);
    QCOMPARE(int(tracker.summary().earlyThreatsDropped), sent - int(kept.size()));
    QCOMPARE(int(tracker.summary().threatsFound), sent);
}

QTEST_GUILESS_MAIN(TestScanTracker)
#include "tst_scantracker.moc"
