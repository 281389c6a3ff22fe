// The runner's command line, through the real binary: usage, the schedule commands and the scan
// they lead to, the wait for daemons that start late, and the wait for mains power.

#include "DaemonScripts.h"
#include "PrivateBus.h"
#include "TestSupport.h"
#include "UPowerStandIn.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTime>
#include <csignal>
#include <memory>

namespace {

QStringList linesWith(const QByteArray& text, const QString& prefix)
{
    QStringList lines = QString::fromUtf8(text).split('\n', Qt::SkipEmptyParts);
    lines.removeIf([&prefix](const QString& line) { return !line.startsWith(prefix); });
    return lines;
}

const QStringList kUserPaths{QDir::homePath(), "/var/mail", "/tmp", "/var/tmp"};

} // namespace

class TestRunOptions : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void commandLine_data();
    void commandLine();
    void scheduleThroughTheBinary_data();
    void scheduleThroughTheBinary();
    void waitsForLateConfigd();
    void configdNeverAppears();
    void stopDuringTheWait();
    void deferOnBattery_data();
    void deferOnBattery();

private:
    QString path(const QString& name) const { return m_dir->filePath(name); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestRunOptions::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestRunOptions::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");   // a pattern the standard output matches
    QTest::addColumn<QString>("error"); // a line of the standard error; empty: none at all

    QTest::newRow("help") << QStringList{"--help"} << 0 << "--exit-status"
                          << "";
    QTest::newRow("version") << QStringList{"--version"} << 0 << "^norvo-scheduled-scan 1\\.0\\n$"
                             << "";
    QTest::newRow("unknown option") << QStringList{"--bogus"} << 2 << "^$"
                                    << "norvo-scheduled-scan: Unknown option 'bogus'.";
    QTest::newRow("wait is no number")
        << QStringList{"--wait-for-daemons=abc"} << 2 << "^$"
        << "norvo-scheduled-scan: --wait-for-daemons takes a number of seconds";
    QTest::newRow("negative wait")
        << QStringList{"--wait-for-daemons=-1"} << 2 << "^$"
        << "norvo-scheduled-scan: --wait-for-daemons takes a number of seconds";
    // Once multiplied in int milliseconds, these were no wait or a second's.
    QTest::newRow("wait beyond a week")
        << QStringList{"--wait-for-daemons=2147484"} << 2 << "^$"
        << "norvo-scheduled-scan: --wait-for-daemons takes at most 604800 seconds (a week)";
    QTest::newRow("wait beyond 64 bits")
        << QStringList{"--wait-for-daemons=99999999999999999999"} << 2 << "^$"
        << "norvo-scheduled-scan: --wait-for-daemons takes at most 604800 seconds (a week)";
    QTest::newRow("battery wait beyond a week")
        << QStringList{"--defer-on-battery=169h"} << 2 << "^$"
        << "norvo-scheduled-scan: --defer-on-battery takes at most 168h (a week)";
    QTest::newRow("battery wait is no duration")
        << QStringList{"--defer-on-battery=soon"} << 2 << "^$"
        << "norvo-scheduled-scan: --defer-on-battery takes a duration such as 2h, 90min or 45s";
    QTest::newRow("path without --set-schedule")
        << QStringList{"/srv"} << 2 << "^$"
        << "norvo-scheduled-scan: paths and --include options go with --set-schedule";
    // What would be ignored is refused: nothing is shown, stored or scanned.
    QTest::newRow("show and set")
        << QStringList{"--show-schedule", "--set-schedule", "full"} << 2 << "^$"
        << "norvo-scheduled-scan: --show-schedule and --set-schedule exclude each other";
    QTest::newRow("set twice") << QStringList{"--set-schedule", "full", "--set-schedule=express"}
                               << 2 << "^$"
                               << "norvo-scheduled-scan: --set-schedule is given more than once";
    QTest::newRow("wait twice")
        << QStringList{"--wait-for-daemons=5", "--wait-for-daemons", "9"} << 2 << "^$"
        << "norvo-scheduled-scan: --wait-for-daemons is given more than once";
    QTest::newRow("run option with show")
        << QStringList{"--show-schedule", "--exit-status"} << 2 << "^$"
        << "norvo-scheduled-scan: --exit-status goes with a scan, not with --show-schedule";
    QTest::newRow("run option with set")
        << QStringList{"--defer-on-battery=2h", "--set-schedule", "full"} << 2 << "^$"
        << "norvo-scheduled-scan: --defer-on-battery goes with a scan, not with --set-schedule";
    QTest::newRow("show and sync")
        << QStringList{"--sync-timer", "--show-schedule"} << 2 << "^$"
        << "norvo-scheduled-scan: --show-schedule and --sync-timer exclude each other";
    QTest::newRow("run option with sync")
        << QStringList{"--sync-timer", "--if-scheduled"} << 2 << "^$"
        << "norvo-scheduled-scan: --if-scheduled goes with a scan, not with --sync-timer";
    QTest::newRow("empty path") << QStringList{"--set-schedule", "custom", "/srv", ""} << 2 << "^$"
                                << "norvo-scheduled-scan: an empty path names no file";
}

void TestRunOptions::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, error);

    ConfigdScript script;
    script.fcPath = path("fc");
    ScriptedPeer configd(path("configd"), configdResponder(script));
    RunnerProcess runner(path("home"));
    runner.start(QFile::encodeName(configd.path()), arguments);
    const auto result = runner.finish();

    QVERIFY(result.ended && result.exitStatus == QProcess::NormalExit);
    QCOMPARE(result.exitCode, exitCode);
    QVERIFY2(QRegularExpression(out).match(QString::fromUtf8(result.out)).hasMatch(),
             result.out.constData());
    if (error.isEmpty()) {
        QCOMPARE(result.lines, QStringList());
    } else {
        QVERIFY2(result.lines.contains(error), qPrintable(result.log()));
    }
    // Nothing was run: no daemon was asked and no result was written.
    QCOMPARE(configd.connections(), 0);
    QVERIFY(!QFile::exists(runner.resultFile()));
    QVERIFY(!QFile::exists(QDir(path("home")).filePath("config/norvo/norvo-gui.conf")));
}

void TestRunOptions::scheduleThroughTheBinary_data()
{
    QTest::addColumn<QStringList>("arguments"); // after --set-schedule; %1 is a folder of the test
    QTest::addColumn<QString>("scanType");
    QTest::addColumn<QStringList>("lastTargets"); // what the Target lines end with
    QTest::addColumn<bool>("bootRecords");
    QTest::addColumn<bool>("processes");

    QTest::newRow("express") << QStringList{"express"} << "ExpressScan" << kUserPaths << true
                             << true;
    QTest::newRow("full") << QStringList{"full"} << "FullScan" << QStringList{"/"} << true << true;
    // Custom paths go in sorted order after the user's folders, whatever the command line's.
    QTest::newRow("custom") << QStringList{"custom", "--include-user", "--include-boot-records",
                                           "%1/zeta",
                                           QString::fromUtf8("%1/donn\xc3\xa9"
                                                             "es")}
                            << "CustomScan"
                            << kUserPaths + QStringList{QString::fromUtf8("%1/donn\xc3\xa9"
                                                                          "es"),
                                                        "%1/zeta"}
                            << true << false;
}

void TestRunOptions::scheduleThroughTheBinary()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, scanType);
    QFETCH(QStringList, lastTargets);
    QFETCH(bool, bootRecords);
    QFETCH(bool, processes);

    const QString folder = path("targets");
    for (QString& argument : arguments) {
        argument = argument.replace("%1", folder);
    }
    for (QString& target : lastTargets) {
        target = target.replace("%1", folder);
    }
    const QString home = path("home");
    const QString settingsFile = QDir(home).filePath("config/norvo/norvo-gui.conf");
    {
        // What the front-end keeps beside the schedule.
        QSettings frontEnd(settingsFile, QSettings::IniFormat);
        frontEnd.setValue("ES/Host", "es.example");
        frontEnd.setValue("Scan/ExcludedPaths",
                          QStringList{"/proc", QString::fromUtf8("/srv/\xc3\xa9")});
        frontEnd.setValue("Scan/ScheduleTime", QTime(3, 30));
        frontEnd.setValue("Window/state", QByteArray("\x00\x01\xff", 3));
    }
    const QList<QByteArray> besideBefore = linesBesideSchedule(settingsFile);
    QVERIFY(!besideBefore.isEmpty());

    RunnerProcess setter(home);
    setter.start("absent", QStringList{"--set-schedule"} + arguments);
    const auto set = setter.finish();
    QVERIFY2(set.endedInOrder(), qPrintable(set.log()));
    QCOMPARE(linesBesideSchedule(settingsFile), besideBefore);

    RunnerProcess shower(home);
    shower.start("absent", {"--show-schedule"});
    const auto show = shower.finish();
    QVERIFY2(show.endedInOrder(), qPrintable(show.log()));
    // No user service manager answers this runner, and the setter says so before the schedule.
    QCOMPARE("No user service manager answers: the timer takes the schedule when the manager next "
             "starts\n" +
                 show.out,
             set.out);
    QCOMPARE(linesWith(show.out, "Scan type: "), QStringList{"Scan type: " + scanType});
    QStringList targets = linesWith(show.out, "Target: ");
    for (QString& target : targets) {
        target.remove(0, int(qstrlen("Target: ")));
    }
    QVERIFY2(targets.size() >= lastTargets.size() &&
                 targets.mid(targets.size() - lastTargets.size()) == lastTargets,
             show.out.constData());
    const auto yesNo = [](bool value) { return QString(value ? "yes" : "no"); };
    QCOMPARE(linesWith(show.out, "Boot records: "),
             QStringList{"Boot records: " + yesNo(bootRecords)});
    QCOMPARE(linesWith(show.out, "Running processes: "),
             QStringList{"Running processes: " + yesNo(processes)});

    // A real run asks for the same targets, in the same order.
    ConfigdScript script;
    script.fcPath = path("fc");
    ScriptedPeer configd(path("configd"), configdResponder(script));
    ScriptedPeer filecheck(script.fcPath, fcResponder(FcScript::RunsScan));
    RunnerProcess runner(home);
    runner.start(QFile::encodeName(configd.path()));
    const auto run = runner.finish();
    QVERIFY2(run.endedInOrder(), qPrintable(run.log()));
    QCOMPARE(run.lines.last(), kScriptSummary);
    const QList<QByteArray> toFc = filecheck.received();
    QCOMPARE(toFc.size(), 2);
    const auto scan = parsed<fc::ClientMessage>(toFc[1]);
    QCOMPARE(scan.tag(), fc::ClientMessage::START_SCAN_REQUEST);
    QStringList requested;
    for (const std::string& included : scan.scan_request().included_path()) {
        requested << QFile::decodeName(QByteArray::fromStdString(included));
    }
    QCOMPARE(requested, targets);
    QCOMPARE(scan.scan_request().boot_dev_path_size() > 0, bootRecords);
    QCOMPARE(scan.scan_request().scan_processes(), processes);
}

void TestRunOptions::waitsForLateConfigd()
{
    const QString configdPath = path("configd");
    RunnerProcess runner(path("home"));
    runner.writeSchedule({}, {{"/srv", true}});
    runner.start(QFile::encodeName(configdPath), {"--wait-for-daemons=10"});
    QVERIFY(runner.waitForLine(QStringLiteral("ConfigD is not listening at \"%1\" yet, the run "
                                              "waits up to 10 s for it")
                                   .arg(configdPath)));
    // Past the first retry: the second one finds the daemon.
    QThread::msleep(1500);
    ConfigdScript script;
    script.fcPath = path("fc");
    ScriptedPeer configd(configdPath, configdResponder(script));
    ScriptedPeer filecheck(script.fcPath, fcResponder(FcScript::RunsScan));

    const auto run = runner.finish();
    QVERIFY2(run.endedInOrder(), qPrintable(run.log()));
    // The wait is one line when it begins and one when it ends: no socket error per attempt.
    QCOMPARE(run.lines.mid(0, 3),
             (QStringList{QStringLiteral("ConfigD is not listening at \"%1\" yet, the run waits "
                                         "up to 10 s for it")
                              .arg(configdPath),
                          "ConfigD is listening now, the run goes on", "ConfigD is connected"}));
    QCOMPARE(run.lines.last(), kScriptSummary);
    QVERIFY(filecheck.received().size() == 2);
    QCOMPARE(parsed<fc::ClientMessage>(filecheck.received()[1]).tag(),
             fc::ClientMessage::START_SCAN_REQUEST);
}

void TestRunOptions::configdNeverAppears()
{
    RunnerProcess runner(path("home"));
    runner.writeSchedule({}, {{"/srv", true}});
    QElapsedTimer elapsed;
    elapsed.start();
    runner.start(QFile::encodeName(path("configd")), {"--wait-for-daemons=2", "--exit-status"});
    const auto run = runner.finish();
    const qint64 ms = elapsed.elapsed();
    QVERIFY2(run.ended && run.exitCode == 2, qPrintable(run.log()));
    // The socket's error comes once, when the wait has given up, and then in words.
    QCOMPARE(run.lines,
             (QStringList{QStringLiteral("ConfigD is not listening at \"%1\" yet, the run waits "
                                         "up to 2 s for it")
                              .arg(path("configd")),
                          "ConfigD did not appear within 2 s",
                          "Error =  QLocalSocket::ServerNotFoundError",
                          QStringLiteral("Cannot connect to ConfigD at \"%1\": no such socket")
                              .arg(path("configd")),
                          "ConfigD connection problem"}));
    QVERIFY2(ms >= 1900 && ms < 5000, qPrintable(QString::number(ms)));
}

void TestRunOptions::stopDuringTheWait()
{
    RunnerProcess runner(path("home"));
    runner.writeSchedule({}, {{"/srv", true}});
    runner.start(QFile::encodeName(path("configd")), {"--wait-for-daemons=60"});
    QVERIFY(runner.waitForLine("ConfigD is not listening at"));
    // Inside the second pause, which lasts two seconds.
    QThread::msleep(1200);
    QElapsedTimer elapsed;
    elapsed.start();
    runner.sendSignal(SIGTERM);
    QVERIFY2(runner.hasEnded(1000), qPrintable(QString::number(elapsed.elapsed())));
    const auto run = runner.finish();
    QVERIFY2(run.endedInOrder(), qPrintable(run.log()));
    QCOMPARE(run.lines.last(), "Scheduled scan stopped by SIGTERM before the scan was requested");
}

void TestRunOptions::deferOnBattery_data()
{
    QTest::addColumn<QString>("bound");
    QTest::addColumn<bool>("mainsReturns");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("mains power returns")
        << "10s" << true
        << QStringList{"Running on battery: the scan waits for mains power, at most 10s",
                       "On mains power again, the scan starts"};
    QTest::newRow("stays on battery")
        << "1s" << false
        << QStringList{"Running on battery: the scan waits for mains power, at most 1s",
                       "Still on battery after 1s, the scan starts anyway"};
}

void TestRunOptions::deferOnBattery()
{
    QFETCH(QString, bound);
    QFETCH(bool, mainsReturns);
    QFETCH(QStringList, lines);

    PrivateBus bus;
    if (!bus.isRunning()) {
        QSKIP(qPrintable("dbus-daemon cannot start: " + bus.error()));
    }
    UPowerStandIn upower(bus.address(), true);
    QVERIFY2(upower.isReady(), qPrintable(upower.error()));
    ConfigdScript script;
    script.fcPath = path("fc");
    ScriptedPeer configd(path("configd"), configdResponder(script));
    ScriptedPeer filecheck(script.fcPath, fcResponder(FcScript::RunsScan));

    RunnerProcess runner(path("home"));
    runner.writeSchedule({}, {{"/srv", true}});
    runner.setSystemBus(bus.address());
    runner.start(QFile::encodeName(configd.path()), {"--defer-on-battery=" + bound});
    QVERIFY(runner.waitForLine(lines[0]));
    // Nothing is asked of the daemons while the run waits.
    QCOMPARE(configd.connections(), 0);
    if (mainsReturns) {
        upower.setOnBattery(false);
    }
    const auto run = runner.finish();
    QVERIFY2(run.endedInOrder(), qPrintable(run.log()));
    QStringList said = run.lines;
    said.removeIf([&lines](const QString& line) { return !lines.contains(line); });
    QCOMPARE(said, lines);
    // The wait ends before the run connects.
    QVERIFY(run.lines.indexOf(lines[1]) < run.lines.indexOf("ConfigD is connected"));
    QCOMPARE(run.lines.last(), kScriptSummary);
}

QTEST_GUILESS_MAIN(TestRunOptions)
#include "tst_runoptions.moc"
