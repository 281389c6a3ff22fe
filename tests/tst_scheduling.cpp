// Unattended operation, with the real runner as a separate process: one run at a time, a stopped
// run stops its scan, and the scan's progress shows in the log.

#include "DaemonScripts.h"
#include "StandIn.h"
#include "TestSignature.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <csignal>

namespace {

// Both scripted daemons of one run, on sockets in `dir`.
struct Daemons
{
    explicit Daemons(const QTemporaryDir& dir, FcScript fcScript)
        : configd(dir.filePath("configd"), configdResponder(script(dir))),
          filecheck(dir.filePath("fc"), fcResponder(fcScript))
    {
    }
    static ConfigdScript script(const QTemporaryDir& dir)
    {
        ConfigdScript script;
        script.fcPath = dir.filePath("fc");
        return script;
    }
    // Starts a run of a custom scan against these daemons.
    void startRun(RunnerProcess& runner) const
    {
        runner.writeSchedule({}, {{"/srv", true}});
        runner.start(QFile::encodeName(configd.path()));
    }
    QList<fc::ClientMessage> fcRequests(fc::ClientMessage::ClientMessageTag tag) const
    {
        QList<fc::ClientMessage> matching;
        for (const QByteArray& body : filecheck.received()) {
            const auto message = parsed<fc::ClientMessage>(body);
            if (message.tag() == tag) {
                matching << message;
            }
        }
        return matching;
    }

    ScriptedPeer configd;
    ScriptedPeer filecheck;
};

const QString kRunning = QStringLiteral("Scan progress: task 7 running");

// Whether the process has a handler for `signo`, as its status in /proc tells.
bool catches(qint64 pid, int signo)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) {
        return false;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("SigCgt:")) {
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signo - 1)) & 1;
        }
    }
    return false;
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

} // namespace

class TestScheduling : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void overlappingRunsScanOnce();
    void lockOfKilledRunIsTakenOver();
    void stopInterruptsTheScan_data();
    void stopInterruptsTheScan();
    void secondSignalEndsAtOnce();
    void stopBeforeTheTaskIsKnown_data();
    void stopBeforeTheTaskIsKnown();
    void stopDuringStartUp();
    void signalStorm_data();
    void signalStorm();
    void standInScanFindsTheTestFile();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestScheduling::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestScheduling::overlappingRunsScanOnce()
{
    Daemons daemons(*m_dir, FcScript::NeverFinishes);
    RunnerProcess first(m_dir->path());
    RunnerProcess second(m_dir->path());
    daemons.startRun(first);
    second.start(QFile::encodeName(daemons.configd.path()));

    // The run that lost the lock ends on its own; the other one scans until it is stopped.
    QElapsedTimer timer;
    timer.start();
    while (!first.hasEnded(20) && !second.hasEnded(20)) {
        QVERIFY(timer.elapsed() < 10000);
    }
    const bool firstLost = first.hasEnded(0);
    RunnerProcess& loser = firstLost ? first : second;
    RunnerProcess& winner = firstLost ? second : first;
    const qint64 winnerPid = winner.pid();
    const auto lost = loser.finish();
    QCOMPARE(lost.exitCode, 0);
    QCOMPARE(lost.lines,
             QStringList{QStringLiteral("Scheduled scan already running (pid %1), this run ends")
                             .arg(winnerPid)});

    QVERIFY(winner.waitForLine(kRunning));
    daemons.filecheck.closeAll();
    const auto won = winner.finish();
    QCOMPARE(won.exitCode, 0);
    QCOMPARE(daemons.configd.connections(), 1);
    QCOMPARE(daemons.fcRequests(fc::ClientMessage::START_SCAN_REQUEST).size(), 1);
}

void TestScheduling::lockOfKilledRunIsTakenOver()
{
    Daemons daemons(*m_dir, FcScript::NeverFinishes);
    RunnerProcess killed(m_dir->path());
    daemons.startRun(killed);
    QVERIFY(killed.waitForLine(kRunning));
    killed.sendSignal(SIGKILL);
    killed.finish();
    QVERIFY(QFile::exists(m_dir->filePath("norvo-scheduled-scan.lock")));

    RunnerProcess next(m_dir->path());
    daemons.startRun(next);
    QVERIFY(next.waitForLine(kRunning));
    daemons.filecheck.closeAll();
    const auto run = next.finish();
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(daemons.fcRequests(fc::ClientMessage::START_SCAN_REQUEST).size(), 2);
    QVERIFY(!run.lines.join('\n').contains("already running"));
}

void TestScheduling::stopInterruptsTheScan_data()
{
    QTest::addColumn<int>("signo");
    QTest::addColumn<int>("fcScript");
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("waitsForTheBound");

    const int answers = int(FcScript::NeverFinishes);
    QTest::newRow("SIGTERM, interruption confirmed")
        << SIGTERM << answers << "Scheduled scan stopped by SIGTERM: task 7 interrupted" << false;
    QTest::newRow("SIGINT") << SIGINT << answers
                            << "Scheduled scan stopped by SIGINT: task 7 interrupted" << false;
    QTest::newRow("SIGHUP") << SIGHUP << answers
                            << "Scheduled scan stopped by SIGHUP: task 7 interrupted" << false;
    QTest::newRow("SIGTERM, interruption answered with an error")
        << SIGTERM << int(FcScript::RefusesInterrupt)
        << "Scheduled scan stopped by SIGTERM: task 7 not interrupted: norvo-filecheck answered "
           "error 65 (Feature not implemented)"
        << false;
    QTest::newRow("SIGTERM, daemon never answers")
        << SIGTERM << int(FcScript::IgnoresInterrupt)
        << "Scheduled scan stopped by SIGTERM: task 7 interruption not confirmed by "
           "norvo-filecheck"
        << true;
}

void TestScheduling::stopInterruptsTheScan()
{
    QFETCH(int, signo);
    QFETCH(int, fcScript);
    QFETCH(QString, line);
    QFETCH(bool, waitsForTheBound);

    Daemons daemons(*m_dir, FcScript(fcScript));
    RunnerProcess runner(m_dir->path());
    daemons.startRun(runner);
    QVERIFY(runner.waitForLine(kRunning));
    QElapsedTimer timer;
    timer.start();
    runner.sendSignal(signo);
    const auto run = runner.finish();
    const qint64 elapsed = timer.elapsed();

    QVERIFY(run.ended);
    QCOMPARE(run.exitStatus, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.lines.last(), line);
    // The bound of the interruption wait is two seconds.
    QVERIFY2(waitsForTheBound ? elapsed >= 1900 && elapsed < 5000 : elapsed < 1900,
             qPrintable(QString::number(elapsed)));

    const auto interrupts = daemons.fcRequests(fc::ClientMessage::INTERRUPT_SCAN_REQUEST);
    QCOMPARE(interrupts.size(), 1);
    const fc::ClientMessage& interrupt = interrupts.first();
    QCOMPARE(interrupt.task_id(), kScriptTaskId);
    QVERIFY(!interrupt.has_token());
    QVERIFY(!interrupt.has_serial());
    QCOMPARE(interrupt.scan_request().origin(), nv::APP_LINUX_GUI);
    QCOMPARE(qint64(interrupt.scan_request().origin_pid()), run.pid);
    QCOMPARE(interrupt.scan_request().included_path_size(), 0);
}

void TestScheduling::secondSignalEndsAtOnce()
{
    Daemons daemons(*m_dir, FcScript::IgnoresInterrupt);
    RunnerProcess runner(m_dir->path());
    daemons.startRun(runner);
    QVERIFY(runner.waitForLine(kRunning));
    QElapsedTimer timer;
    timer.start();
    runner.sendSignal(SIGTERM);
    QVERIFY(daemons.filecheck.waitForReceived(3));
    runner.sendSignal(SIGINT);
    const auto run = runner.finish();
    QVERIFY(timer.elapsed() < 1900);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.lines.last(), QStringLiteral("Scheduled scan stopped by SIGINT: task 7 "
                                              "interruption requested, not waiting for "
                                              "norvo-filecheck"));
}

void TestScheduling::stopBeforeTheTaskIsKnown_data()
{
    QTest::addColumn<int>("fcScript");
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("interrupts");

    QTest::newRow("the answer comes within the bound")
        << int(FcScript::StartsLate) << "Scheduled scan stopped by SIGTERM: task 7 interrupted"
        << 1;
    QTest::newRow("no answer within the bound")
        << int(FcScript::NeverStarts)
        << "Scheduled scan stopped by SIGTERM before norvo-filecheck started it: the scan request "
           "was not answered, norvo-filecheck may still run the scan"
        << 0;
}

// The request is out, but the daemon has not named the task yet: the run waits for the name
// within the interruption's bound, then interrupts that task.
void TestScheduling::stopBeforeTheTaskIsKnown()
{
    QFETCH(int, fcScript);
    QFETCH(QString, line);
    QFETCH(int, interrupts);

    Daemons daemons(*m_dir, FcScript(fcScript));
    RunnerProcess runner(m_dir->path());
    daemons.startRun(runner);
    QVERIFY(daemons.filecheck.waitForReceived(2));
    QVERIFY(runner.waitForLine("Scan request:"));
    QElapsedTimer timer;
    timer.start();
    runner.sendSignal(SIGTERM);
    const auto run = runner.finish();
    QVERIFY2(run.endedInOrder(), qPrintable(run.log()));
    QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(run.lines.last(), line);
    const auto sent = daemons.fcRequests(fc::ClientMessage::INTERRUPT_SCAN_REQUEST);
    QCOMPARE(sent.size(), interrupts);
    if (interrupts) {
        QCOMPARE(sent.first().task_id(), kScriptTaskId);
    }
}

// A stop while the start-up waits for the configuration daemon ends that wait at once, and the
// file-check daemon never hears of the run.
void TestScheduling::stopDuringStartUp()
{
    ConfigdScript script = Daemons::script(*m_dir);
    script.answersFcheck = false;
    ScriptedPeer configd(m_dir->filePath("configd"), configdResponder(script));
    ScriptedPeer filecheck(script.fcPath, fcResponder(FcScript::RunsScan));
    RunnerProcess runner(m_dir->path());
    runner.writeSchedule({}, {{"/srv", true}});
    runner.start(QFile::encodeName(configd.path()));
    QVERIFY(configd.waitForReceived(4));
    QElapsedTimer timer;
    timer.start();
    runner.sendSignal(SIGTERM);
    const auto run = runner.finish();
    QVERIFY2(run.endedInOrder(), qPrintable(run.log()));
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(run.lines.last(),
             QStringLiteral("Scheduled scan stopped by SIGTERM before the scan was requested"));
    QCOMPARE(filecheck.connections(), 0);
}

void TestScheduling::signalStorm_data()
{
    QTest::addColumn<bool>("fromTheStart");
    QTest::addColumn<QString>("closing"); // the closing line, or its start

    QTest::newRow("from the moment a handler is there")
        << true << "Scheduled scan stopped by SIGTERM before the scan was requested";
    QTest::newRow("while the scan runs") << false << "Scheduled scan stopped by ";
}

// Stop signals that keep coming, up to the process's exit: the run ends once, in order, with
// its closing line and the status it decided.
void TestScheduling::signalStorm()
{
    QFETCH(bool, fromTheStart);
    QFETCH(QString, closing);

    Daemons daemons(*m_dir, FcScript::NeverFinishes);
    RunnerProcess runner(m_dir->path());
    daemons.startRun(runner);
    if (fromTheStart) {
        QElapsedTimer waited;
        waited.start();
        while (!catches(runner.pid(), SIGTERM)) {
            QVERIFY(waited.elapsed() < 5000);
            QThread::usleep(100);
        }
    } else {
        QVERIFY(runner.waitForLine(kRunning));
    }
    const int storm[] = {SIGTERM, SIGINT, SIGHUP};
    QElapsedTimer timer;
    timer.start();
    for (int sent = 0; !runner.hasEnded(0); ++sent) {
        QVERIFY(timer.elapsed() < 10000);
        runner.sendSignal(storm[sent % 3]);
        QThread::usleep(200);
    }
    const auto run = runner.finish();
    QVERIFY2(run.endedInOrder(), qPrintable(run.log()));
    QVERIFY2(run.lines.last().startsWith(closing), qPrintable(run.log()));
    QCOMPARE(run.lines.filter("Scheduled scan stopped by").size(), 1);
}

void TestScheduling::standInScanFindsTheTestFile()
{
    const QDir tree(m_dir->filePath("tree"));
    QVERIFY(tree.mkpath("docs"));
    QVERIFY(writeFile(tree.filePath("docs/letter.txt"), "Dear neighbour"));
    QVERIFY(writeFile(tree.filePath("docs/list.txt"), "milk, bread"));
    QVERIFY(writeFile(tree.filePath("invoice.com"), testSignature()));

    const QString fcSocket = m_dir->filePath("fc");
    const QString configdSocket = m_dir->filePath("configd");
    StandIn filecheck(QStringLiteral(NORVO_FILECHECK_SIM), fcSocket, {"--first-task-id", "7"});
    StandIn configd(QStringLiteral(NORVO_CONFIGD_SIM), configdSocket,
                    {"--fcheck-socket", fcSocket});

    RunnerProcess runner(m_dir->path());
    runner.writeSchedule({}, {{tree.path(), true}});
    runner.start(QFile::encodeName(configdSocket));
    const auto run = runner.finish();
    QVERIFY2(run.ended, qPrintable(run.lines.join('\n')));
    QCOMPARE(run.exitCode, 0);

    // A short scan logs its progress once per state: the interval is far longer than the scan.
    QStringList progress;
    for (const QString& line : run.lines) {
        if (line.startsWith("Scan progress:")) {
            progress << line.section(',', 0, 0);
        }
    }
    QCOMPARE(progress,
             (QStringList{"Scan progress: task 7 running", "Scan progress: task 7 finished"}));
    QCOMPARE(run.lines.last(), kScriptSummary);
}

QTEST_GUILESS_MAIN(TestScheduling)
#include "tst_scheduling.moc"
