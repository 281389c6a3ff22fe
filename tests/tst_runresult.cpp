// How a run's end reaches the user, through the real runner against scripted daemons: the threat
// lines, the result file, the exit status, the desktop notification on a private bus, and the
// result file read back by --if-incomplete.

#include "DaemonScripts.h"
#include "NotificationStandIn.h"
#include "PrivateBus.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kThreatLine =
    QStringLiteral("Threat found: \"/srv/a/eicar.com\": unnamed threat, nothing done yet");
const QString kRunningLine = QStringLiteral("Scan progress: task 7 running");

QJsonObject resultOf(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QJsonDocument::fromJson(file.readAll()).object();
}

QByteArray bytesOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

unsigned modeOf(const QString& path)
{
    struct stat status;
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 07777 : 0;
}

// How a table row sets up its run.
struct RunSetup
{
    int fcScript = int(FcScript::RunsScan);
    bool configdListens = true;
    bool forbidden = false;        // right_start_scanner false
    bool stopWhileRunning = false; // SIGTERM once the task runs
    bool showNotifications = false;
};

} // namespace
Q_DECLARE_METATYPE(RunSetup)

class TestRunResult : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void threatLineAndResultFile();
    void outcomes_data();
    void outcomes();
    void notification_data();
    void notification();
    void ifIncomplete_data();
    void ifIncomplete();
    void oddNamesAreOneLineEach();
    void unusableScheduleIsNotScanned_data();
    void unusableScheduleIsNotScanned();
    void ifScheduled_data();
    void ifScheduled();

private:
    QString path(const QString& name) const { return m_dir->filePath(name); }
    // One run in `home` against freshly scripted daemons named after `tag`.
    RunnerProcess::Result run(RunnerProcess& runner, const RunSetup& setup, const QString& tag,
                              const QStringList& arguments, int* configdConnections = nullptr);

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestRunResult::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

RunnerProcess::Result TestRunResult::run(RunnerProcess& runner, const RunSetup& setup,
                                         const QString& tag, const QStringList& arguments,
                                         int* configdConnections)
{
    runner.writeSchedule({}, {{"/srv", true}});
    ConfigdScript script;
    script.fcPath = path("fc-" + tag);
    if (setup.forbidden) {
        script.config.set_right_start_scanner(false);
    }
    script.config.set_show_notifications(setup.showNotifications);
    const QString configdPath = path("configd-" + tag);
    std::unique_ptr<ScriptedPeer> configd;
    if (setup.configdListens) {
        configd = std::make_unique<ScriptedPeer>(configdPath, configdResponder(script));
    }
    ScriptedPeer filecheck(script.fcPath, fcResponder(FcScript(setup.fcScript)));
    runner.start(QFile::encodeName(configdPath), arguments);
    if (setup.stopWhileRunning) {
        if (!runner.waitForLine(kRunningLine)) {
            qWarning("The task never ran");
        }
        runner.sendSignal(SIGTERM);
    }
    const RunnerProcess::Result result = runner.finish();
    if (configdConnections) {
        *configdConnections = configd ? configd->connections() : 0;
    }
    return result;
}

void TestRunResult::threatLineAndResultFile()
{
    RunnerProcess runner(path("home"));
    runner.setEnvironment("QT_MESSAGE_PATTERN", "%{type}: %{message}");
    const auto result = run(runner, RunSetup{}, "run", {"--exit-status"});
    QVERIFY2(result.ended && result.exitStatus == QProcess::NormalExit, qPrintable(result.log()));
    QCOMPARE(result.exitCode, 1);

    QStringList threatLines = result.lines;
    threatLines.removeIf([](const QString& line) { return !line.contains("Threat found:"); });
    QCOMPARE(threatLines, QStringList{"warning: " + kThreatLine});
    // Threats found: the closing line is a warning.
    QCOMPARE(result.lines.last(), "warning: " + kScriptSummary);

    const QJsonObject file = resultOf(runner.resultFile());
    QCOMPARE(file.value("version").toInt(), 1);
    QCOMPARE(file.value("outcome").toString(), "finished");
    QCOMPARE(file.value("reason").toString(), kScriptSummary);
    QCOMPARE(file.value("taskId").toInt(), 7);
    QCOMPARE(file.value("filesScanned").toInt(), 3);
    QCOMPARE(file.value("filesToScan").toInt(), 3);
    QCOMPARE(file.value("finalStatus").toObject(), (QJsonObject{{"code", 0}, {"text", "Success"}}));
    QCOMPARE(file.value("threats").toArray(), (QJsonArray{QJsonObject{{"file", "/srv/a/eicar.com"},
                                                                      {"names", QJsonArray()},
                                                                      {"action", ""},
                                                                      {"result", ""}}}));
    QCOMPARE(file.value("threatsOmitted").toInt(-1), 0);
    QCOMPARE(file.value("exitStatus").toInt(), 1);
    const QDateTime started = QDateTime::fromString(file.value("started").toString(), Qt::ISODate);
    const QDateTime ended = QDateTime::fromString(file.value("ended").toString(), Qt::ISODate);
    QVERIFY(started.isValid() && ended.isValid() && started <= ended);
    QCOMPARE(file.value("lastCompleted").toString(), file.value("ended").toString());

    QCOMPARE(modeOf(runner.resultFile()), 0600u);
    QCOMPARE(modeOf(QFileInfo(runner.resultFile()).path()), 0700u);
}

void TestRunResult::outcomes_data()
{
    QTest::addColumn<RunSetup>("setup");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<int>("exitStatus"); // with --exit-status, and in the result file

    RunSetup setup;
    QTest::newRow("finished with a threat") << setup << "finished" << 1;
    setup.fcScript = int(FcScript::FinishesBeforeAnswer);
    QTest::newRow("finished clean") << setup << "finished" << 0;
    setup.fcScript = int(FcScript::Refuses);
    QTest::newRow("refused") << setup << "refused" << 2;
    setup = RunSetup{};
    setup.configdListens = false;
    QTest::newRow("not started") << setup << "not-started" << 2;
    setup = RunSetup{};
    setup.forbidden = true;
    QTest::newRow("forbidden") << setup << "forbidden" << 2;
    setup = RunSetup{};
    setup.fcScript = int(FcScript::OversizedFrame);
    QTest::newRow("connection lost") << setup << "connection-lost" << 2;
    setup.fcScript = int(FcScript::NeverFinishes);
    setup.stopWhileRunning = true;
    QTest::newRow("stopped") << setup << "stopped" << 0;
}

void TestRunResult::outcomes()
{
    QFETCH(RunSetup, setup);
    QFETCH(QString, outcome);
    QFETCH(int, exitStatus);

    for (const bool requested : {true, false}) {
        const QString tag = requested ? "with" : "without";
        RunnerProcess runner(path(tag));
        const auto result =
            run(runner, setup, tag, requested ? QStringList{"--exit-status"} : QStringList{});
        QVERIFY2(result.ended && result.exitStatus == QProcess::NormalExit,
                 qPrintable(result.log()));
        QVERIFY2(result.exitCode == (requested ? exitStatus : 0), qPrintable(result.log()));

        const QJsonObject file = resultOf(runner.resultFile());
        QCOMPARE(file.value("version").toInt(), 1);
        QCOMPARE(file.value("outcome").toString(), outcome);
        // The closing line, whatever it says.
        QCOMPARE(file.value("reason").toString(), result.lines.last());
        QCOMPARE(file.value("exitStatus").toInt(-1), exitStatus);
        // Only a finished scan completes; a first run has nothing earlier to keep.
        if (outcome == "finished") {
            QCOMPARE(file.value("lastCompleted").toString(), file.value("ended").toString());
        } else {
            QVERIFY(file.value("lastCompleted").isNull());
        }
    }
}

void TestRunResult::notification_data()
{
    QTest::addColumn<bool>("showNotifications");
    QTest::newRow("shown") << true;
    QTest::newRow("switched off") << false;
}

void TestRunResult::notification()
{
    QFETCH(bool, showNotifications);

    PrivateBus bus;
    if (!bus.isRunning()) {
        QSKIP(qPrintable("dbus-daemon cannot start: " + bus.error()));
    }
    NotificationStandIn server(bus.address());
    QVERIFY2(server.isReady(), qPrintable(server.error()));

    RunnerProcess runner(path("home"));
    runner.setSessionBus(bus.address());
    RunSetup setup;
    setup.showNotifications = showNotifications;
    const auto result = run(runner, setup, "run", {});
    QVERIFY2(result.endedInOrder(), qPrintable(result.log()));
    QCOMPARE(result.lines.last(), kScriptSummary);

    const QList<QJsonObject> calls = server.calls();
    if (!showNotifications) {
        QVERIFY(calls.isEmpty());
        return;
    }
    QCOMPARE(calls.size(), 1);
    QCOMPARE(calls[0].value("hints").toObject().value("urgency").toInt(), 2);
    QVERIFY2(calls[0].value("summary").toString().contains("threat"),
             qPrintable(calls[0].value("summary").toString()));
    QVERIFY(calls[0].value("body").toString().contains("/srv/a/eicar.com"));
}

void TestRunResult::ifIncomplete_data()
{
    QTest::addColumn<RunSetup>("first");
    QTest::addColumn<bool>("scansAgain");

    RunSetup first;
    first.fcScript = int(FcScript::NeverFinishes);
    first.stopWhileRunning = true;
    QTest::newRow("after a stopped run") << first << true;
    first = RunSetup{};
    first.fcScript = int(FcScript::OversizedFrame);
    QTest::newRow("after a lost connection") << first << true;
    QTest::newRow("after a finished run") << RunSetup{} << false;
}

void TestRunResult::ifIncomplete()
{
    QFETCH(RunSetup, first);
    QFETCH(bool, scansAgain);

    const QString home = path("home");
    {
        RunnerProcess runner(home);
        const auto result = run(runner, first, "first", {});
        QVERIFY2(result.endedInOrder(), qPrintable(result.log()));
    }
    RunnerProcess runner(home);
    const QByteArray before = bytesOf(runner.resultFile());
    QVERIFY(!before.isEmpty());
    int connections = -1;
    const auto result = run(runner, RunSetup{}, "second", {"--if-incomplete"}, &connections);
    QVERIFY2(result.endedInOrder(), qPrintable(result.log()));

    if (scansAgain) {
        QCOMPARE(result.lines.last(), kScriptSummary);
        QCOMPARE(resultOf(runner.resultFile()).value("outcome").toString(), "finished");
        return;
    }
    const QString lastCompleted =
        QJsonDocument::fromJson(before).object().value("lastCompleted").toString();
    QVERIFY(!lastCompleted.isEmpty());
    QVERIFY2(result.lines.endsWith("Scheduled scan not needed: the last scan completed at " +
                                   lastCompleted),
             qPrintable(result.log()));
    QCOMPARE(connections, 0);
    QCOMPARE(bytesOf(runner.resultFile()), before);
}

void TestRunResult::oddNamesAreOneLineEach()
{
    RunnerProcess runner(path("home"));
    RunSetup setup;
    setup.fcScript = int(FcScript::OddNames);
    const auto result = run(runner, setup, "run", {});
    QVERIFY2(result.endedInOrder(), qPrintable(result.log()));

    const QString threat =
        QStringLiteral(": Trojan\\nThreat found: \"/etc/passwd\", nothing done yet");
    QStringList threatLines = result.lines;
    threatLines.removeIf([](const QString& line) { return !line.startsWith("Threat found:"); });
    QCOMPARE(
        threatLines,
        QStringList({"Threat found: \"/srv/x\\nScheduled scan finished: task 7, final status 0 "
                     "(Success), files scanned: 3, threats found: 0\"" +
                         threat,
                     "Threat found: \"/srv/\\xff\\xfe.com\"" + threat,
                     "Threat found: \"/srv/a\\x00b\\\\\"" + threat}));
    QStringList closingLines = result.lines;
    closingLines.removeIf(
        [](const QString& line) { return !line.startsWith("Scheduled scan finished:"); });
    QCOMPARE(closingLines, QStringList{"Scheduled scan finished: task 7, final status 0 (Success), "
                                       "files scanned: 3, threats found: 3"});
    QVERIFY2(result.log().contains("scanning \"/srv/\\x1b[2J\\rx\""), qPrintable(result.log()));
    QVERIFY(!result.log().contains(QChar(0x1b)) && !result.log().contains(QChar('\r')));

    // The result file holds each name exactly: as text, or as its bytes where text cannot.
    const QJsonArray threats = resultOf(runner.resultFile()).value("threats").toArray();
    QCOMPARE(threats.size(), kOddFiles.size());
    for (qsizetype place = 0; place < threats.size(); ++place) {
        const QJsonObject stored = threats[place].toObject();
        const QByteArray bytes =
            stored.contains("fileBase64")
                ? QByteArray::fromBase64(stored.value("fileBase64").toString().toLatin1())
                : stored.value("file").toString().toUtf8();
        QCOMPARE(bytes, kOddFiles[place]);
        QCOMPARE(stored.value("names"), QJsonArray{QString::fromUtf8(kOddThreatName)});
    }
    QVERIFY(threats[1].toObject().contains("fileBase64"));
}

void TestRunResult::unusableScheduleIsNotScanned_data()
{
    QTest::addColumn<QByteArray>("kind"); // "dir", "fifo", or the file's content
    QTest::addColumn<QString>("problem"); // after "Scheduled scan not started: "; %1 the file
    const QString format = "the settings file \"%1\" is not in the settings format";
    QTest::newRow("a directory") << QByteArray("dir") << "the settings file \"%1\" is a directory";
    QTest::newRow("a FIFO") << QByteArray("fifo")
                            << "the settings file \"%1\" is not a regular file";
    QTest::newRow("NUL bytes") << QByteArray(4, '\0') << format;
    QTest::newRow("not UTF-8") << QByteArray("[Scan]\nScheduleScanType=Full\xff") << format;
    QTest::newRow("broken section") << QByteArray("[Scan\nScheduleScanType=FullScan\n") << format;
    QTest::newRow("a map that does not decode")
        << QByteArray("[Scan]\nScheduleScanType=CustomScan\n"
                      "ScheduleCustomPaths=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\tgarbage)\n")
        << "the schedule's Scan/ScheduleCustomPaths in \"%1\" cannot be decoded";
    QTest::newRow("a map that is text")
        << QByteArray("[Scan]\nScheduleScanType=CustomScan\nSchedulePersistentPaths=User\n")
        << "the schedule's Scan/SchedulePersistentPaths in \"%1\" cannot be decoded";
    QTest::newRow("nothing selected") << QByteArray("[Scan]\nScheduleScanType=CustomScan\n")
                                      << "the schedule in \"%1\" selects nothing to scan";
    QTest::newRow("an unknown scan type")
        << QByteArray("[Scan]\nScheduleScanType=Weekly\n")
        << "the schedule in \"%1\" names an unknown scan type \"Weekly\"";
}

void TestRunResult::unusableScheduleIsNotScanned()
{
    QFETCH(QByteArray, kind);
    QFETCH(QString, problem);
    const QString home = path("home");
    const QString settings = QDir(home).filePath("config/norvo/norvo-gui.conf");
    QVERIFY(QDir().mkpath(QFileInfo(settings).path()));
    if (kind == "dir") {
        QVERIFY(QDir().mkpath(settings));
    } else if (kind == "fifo") {
        QCOMPARE(::mkfifo(QFile::encodeName(settings).constData(), 0600), 0);
    } else {
        QFile file(settings);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(kind);
    }
    ConfigdScript script;
    script.fcPath = path("fc");
    ScriptedPeer configd(path("configd"), configdResponder(script));
    ScriptedPeer filecheck(script.fcPath, fcResponder(FcScript::RunsScan));
    RunnerProcess runner(home);
    runner.start(QFile::encodeName(configd.path()), {"--exit-status"});
    const auto result = runner.finish();

    QVERIFY2(result.ended && result.exitStatus == QProcess::NormalExit, qPrintable(result.log()));
    QCOMPARE(result.exitCode, 2);
    const QString closing = "Scheduled scan not started: " + problem.arg(settings);
    QCOMPARE(result.lines.last(), closing);
    for (const QByteArray& body : filecheck.received()) {
        QVERIFY(parsed<fc::ClientMessage>(body).tag() != fc::ClientMessage::START_SCAN_REQUEST);
    }
    const QJsonObject file = resultOf(runner.resultFile());
    QCOMPARE(file.value("outcome").toString(), "not-started");
    QCOMPARE(file.value("reason").toString(), closing);
    QVERIFY(file.value("lastCompleted").isNull());
}

void TestRunResult::ifScheduled_data()
{
    QTest::addColumn<QVariant>("hasSchedule"); // invalid: not stored
    QTest::newRow("schedule on") << QVariant(true);
    QTest::newRow("schedule off") << QVariant(false);
    QTest::newRow("nothing stored: off") << QVariant();
}

// With the schedule off, a run the timer starts anyway contacts nothing and keeps the last result.
void TestRunResult::ifScheduled()
{
    QFETCH(QVariant, hasSchedule);

    const QString home = path("home");
    {
        RunnerProcess runner(home);
        QVERIFY(run(runner, RunSetup{}, "first", {}).endedInOrder());
    }
    if (hasSchedule.isValid()) {
        QSettings(QDir(home).filePath("config/norvo/norvo-gui.conf"), QSettings::IniFormat)
            .setValue("Scan/HasSchedule", hasSchedule);
    }
    RunnerProcess runner(home);
    const QByteArray before = bytesOf(runner.resultFile());
    int connections = -1;
    const auto result = run(runner, RunSetup{}, "second", {"--if-scheduled"}, &connections);
    QVERIFY2(result.endedInOrder(), qPrintable(result.log()));
    if (hasSchedule.toBool()) {
        QCOMPARE(result.lines.last(), kScriptSummary);
        QCOMPARE(connections, 1);
        return;
    }
    QCOMPARE(result.lines.filter("Scheduled scan").join('\n'),
             "Scheduled scan not needed: the schedule is off");
    QCOMPARE(connections, 0);
    QCOMPARE(bytesOf(runner.resultFile()), before);
}

QTEST_GUILESS_MAIN(TestRunResult)
#include "tst_runresult.moc"
