// The real runner as a separate process against scripted daemons, each run with its own sockets,
// settings and runtime directory.

#include "DaemonScripts.h"
#include "TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void wholeRun();
    void endings_data();
    void endings();
    void configdClosesDuringRun();

private:
    QString socketPath(const char* name) const { return m_dir->filePath(QLatin1String(name)); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestEndToEnd::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestEndToEnd::wholeRun()
{
    RunnerProcess runner(m_dir->path());
    runner.writeSchedule({{"MBR", true}}, {{"/srv/b", true}, {"/srv/a", true}, {"/srv/c", false}});
    ConfigdScript script;
    script.fcPath = socketPath("fc");
    script.config.set_auto_applying(true);
    script.config.set_on_known_virus(nv::FILE_ACTION_QUARANTINE);
    script.config.set_check_emails(true);
    script.config.set_scan_timeout(3000);
    script.config.mutable_excluded_path()->add_path("/srv/a/skip");
    ScriptedPeer configd(socketPath("configd"), configdResponder(script));
    ScriptedPeer filecheck(script.fcPath, fcResponder(FcScript::RunsScan));

    runner.start(QFile::encodeName(configd.path()));
    const auto run = runner.finish();
    QVERIFY2(run.endedInOrder(), qPrintable(run.log()));

    // What the configuration daemon saw, in order.
    const QList<QByteArray> toConfigd = configd.received();
    QCOMPARE(toConfigd.size(), 4);
    const auto subscribe = parsed<nv::Public2ConfigdMessage>(toConfigd[0]);
    QCOMPARE(subscribe.tag(), nv::Public2ConfigdMessage::SUBSCRIBE_TO_CONFIG);
    QCOMPARE(subscribe.app(), nv::APP_LINUX_GUI);
    QCOMPARE(subscribe.uid(), getuid());
    QVERIFY(!subscribe.has_token());
    QCOMPARE(toConfigd[1], toConfigd[0]);
    const auto myInfo = parsed<nv::Public2ConfigdMessage>(toConfigd[2]);
    QCOMPARE(myInfo.tag(), nv::Public2ConfigdMessage::MY_INFO_NOTIFICATION);
    QCOMPARE(myInfo.app(), nv::APP_LINUX_GUI);
    QCOMPARE(qint64(myInfo.pid()), run.pid);
    QCOMPARE(myInfo.config_revision(), kScriptRevision);
    QCOMPARE(QString::fromStdString(myInfo.info().exe_path()), QStringLiteral(NORVO_SCANNER));
    QCOMPARE(myInfo.info().uid(), getuid());
    const auto getFc = parsed<nv::Public2ConfigdMessage>(toConfigd[3]);
    QCOMPARE(getFc.tag(), nv::Public2ConfigdMessage::GET_FCHECK_REQUEST);
    QCOMPARE(getFc.uid(), getuid());

    // What the file-check daemon saw, in order.
    const QList<QByteArray> toFc = filecheck.received();
    QCOMPARE(toFc.size(), 2);
    const auto subscribeInfo = parsed<fc::ClientMessage>(toFc[0]);
    QCOMPARE(subscribeInfo.tag(), fc::ClientMessage::SUBSCRIBE_TO_SCAN_INFO);
    QCOMPARE(subscribeInfo.serial(), 1u);
    QCOMPARE(subscribeInfo.info_options().progress_interval_ms(), 200u);
    QVERIFY(subscribeInfo.info_options().report_threats());
    const auto scan = parsed<fc::ClientMessage>(toFc[1]);
    QCOMPARE(scan.tag(), fc::ClientMessage::START_SCAN_REQUEST);
    QCOMPARE(scan.serial(), 2u);
    QVERIFY(!scan.has_token());
    const fc::ScanRequest& request = scan.scan_request();
    QCOMPARE(request.origin(), nv::APP_LINUX_GUI);
    QCOMPARE(qint64(request.origin_pid()), run.pid);
    QCOMPARE(request.comment(), std::string("3"));
    QCOMPARE(request.included_path_size(), 2);
    QCOMPARE(request.included_path(0), std::string("/srv/a"));
    QCOMPARE(request.included_path(1), std::string("/srv/b"));
    QCOMPARE(request.excluded_path_size(), 1);
    QCOMPARE(request.excluded_path(0), std::string("/srv/a/skip"));
    QCOMPARE(request.boot_dev_path_size(), 1);
    QCOMPARE(request.boot_dev_path(0), std::string("*"));
    QVERIFY(request.has_scan_processes() && !request.scan_processes());
    QCOMPARE(request.scan_timeout_ms(), 3000u);
    QCOMPARE(request.mail_max_level(), 8u);
    QCOMPARE(request.archive_max_level(), 0u);
    QCOMPARE(request.actions().on_known_virus(), nv::FILE_ACTION_QUARANTINE);

    QCOMPARE(run.lines.mid(0, 2),
             (QStringList{"ConfigD is connected", "\"ConfigD -> APP_CONFIG_NOTIFICATION\""}));
    QVERIFY(run.lines.contains(
        QStringLiteral("\"ConfigD -> GET_FCHECK_RESPONSE: %1\"").arg(script.fcPath)));
    QVERIFY(run.lines.contains(QStringLiteral("Socket path =  \"%1\"").arg(script.fcPath)));
    QVERIFY(run.lines.contains("\"Filecheck -> START_SCAN_RESPONSE (task id = 7)\""));
    QCOMPARE(run.lines.last(), kScriptSummary);
}

void TestEndToEnd::endings_data()
{
    QTest::addColumn<int>("fcheckError");
    QTest::addColumn<int>("rightStartScanner"); // -1: absent
    QTest::addColumn<int>("fcScript");
    QTest::addColumn<int>("fcMessages"); // requests the file-check daemon receives
    QTest::addColumn<QStringList>("lastLines");

    const int runs = int(FcScript::RunsScan);
    QTest::newRow("file-check path refused")
        << int(nv::EC_NO_FILE_CHECK) << -1 << runs << 0
        << QStringList{"\"ConfigD -> GET_FCHECK_RESPONSE ERROR: 120\"",
                       "ConfigD answered the request for the norvo-filecheck socket with "
                       "EC_NO_FILE_CHECK (120): \"no file-check socket\\nfor uid 0\"",
                       "Scheduled scan not started: ConfigD named no norvo-filecheck socket"};
    QTest::newRow("scanner not allowed")
        << 0 << 0 << runs << 1
        << QStringList{"Scheduled scan cannot be started due to central protection server "
                       "restrictions"};
    QTest::newRow("scanner explicitly allowed")
        << 0 << 1 << runs << 2 << QStringList{kScriptSummary};
    QTest::newRow("file-check refuses the scan")
        << 0 << -1 << int(FcScript::Refuses) << 2
        << QStringList{"\"Filecheck -> START_SCAN_RESPONSE (task id = 0)\"",
                       "Scheduled scan refused by norvo-filecheck: error 65 (Feature not "
                       "implemented)"};
    QTest::newRow("task finished before the answer named it")
        << 0 << -1 << int(FcScript::FinishesBeforeAnswer) << 2
        << QStringList{"\"Filecheck -> START_SCAN_RESPONSE (task id = 7)\"",
                       "Scheduled scan finished: task 7, final status 0 (Success), files "
                       "scanned: 3, threats found: 0"};
    QTest::newRow("task finished without a result")
        << 0 << -1 << int(FcScript::FinishesWithoutResult) << 2
        << QStringList{"Scheduled scan finished: task 7, final status unknown, files scanned: 3, "
                       "threats found: 0"};
    QTest::newRow("task finished with a status newer than this build")
        << 0 << -1 << int(FcScript::FinishesNewerStatus) << 2
        << QStringList{"Scheduled scan finished: task 7, final status unknown (code 9999), files "
                       "scanned: 3, threats found: 0"};
}

void TestEndToEnd::endings()
{
    QFETCH(int, fcheckError);
    QFETCH(int, rightStartScanner);
    QFETCH(int, fcScript);
    QFETCH(int, fcMessages);
    QFETCH(QStringList, lastLines);

    RunnerProcess runner(m_dir->path());
    runner.writeSchedule({}, {{"/srv", true}});
    ConfigdScript script;
    script.fcPath = socketPath("fc");
    script.fcheckError = nv::ErrorCode(fcheckError);
    if (rightStartScanner >= 0) {
        script.config.set_right_start_scanner(rightStartScanner == 1);
    }
    ScriptedPeer configd(socketPath("configd"), configdResponder(script));
    ScriptedPeer filecheck(script.fcPath, fcResponder(FcScript(fcScript)));

    runner.start(QFile::encodeName(configd.path()));
    const auto run = runner.finish();
    QVERIFY2(run.endedInOrder(), qPrintable(run.log()));
    QVERIFY2(run.lastLines(lastLines.size()) == lastLines, qPrintable(run.log()));
    // The runner may be gone before the peer's thread has read what it wrote last.
    filecheck.waitForReceived(fcMessages, 2000);
    QCOMPARE(filecheck.received().size(), fcMessages);
}

// The scan goes on in the file-check daemon when the configuration daemon goes: the run follows
// it to its end and ends with the scan's outcome.
void TestEndToEnd::configdClosesDuringRun()
{
    RunnerProcess runner(m_dir->path());
    runner.writeSchedule({}, {{"/srv", true}});
    ConfigdScript script;
    script.fcPath = socketPath("fc");
    ScriptedPeer configd(socketPath("configd"), configdResponder(script));
    ScriptedPeer filecheck(script.fcPath, fcResponder(FcScript::NeverFinishes));

    runner.start(QFile::encodeName(configd.path()));
    QVERIFY(runner.waitForLine("Scan progress: task 7 running"));
    configd.closeAll();
    QVERIFY(runner.waitForLine("the run follows the scan"));
    QVERIFY(!runner.hasEnded(200));
    filecheck.sendToAll(frameOf(scanInfo(kScriptTaskId, fc::SCAN_STATE_FINISHED, 3)));
    const auto run = runner.finish();
    QVERIFY2(run.endedInOrder(), qPrintable(run.log()));
    QCOMPARE(run.lastLines(4),
             (QStringList{"Error =  QLocalSocket::PeerClosedError",
                          "ConfigD connection lost after the scan was requested: the run follows "
                          "the scan in norvo-filecheck to its end",
                          "Scan progress: task 7 finished, 3 of 3 files scanned (100%), threats "
                          "found: 0",
                          "Scheduled scan finished: task 7, final status 0 (Success), files "
                          "scanned: 3, threats found: 0"}));
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
