#include "ResultFile.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

using Outcome = RunReport::Outcome;
Q_DECLARE_METATYPE(RunReport::Outcome)

namespace {
const QDateTime kStarted = QDateTime(QDate(2026, 12, 10), QTime(2, 0, 5), Qt::UTC);
const QDateTime kEnded = QDateTime(QDate(2026, 12, 10), QTime(2, 41, 0), Qt::UTC);

RunReport reportOf(Outcome outcome, const QDateTime& ended = kEnded)
{
    RunReport report;
    report.outcome = outcome;
    report.reason = QStringLiteral("closing line");
    report.started = kStarted;
    report.ended = ended;
    return report;
}

QJsonObject contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object()
                                          : QJsonObject();
}

void writeRaw(const QString& path, const QByteArray& bytes)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}
} // namespace

class TestResultFile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void finishedRunWithThreats();
    void lastCompletedIsCarriedOver_data();
    void lastCompletedIsCarriedOver();
    void longThreatListIsCapped();
    void fileAndFolderArePrivate();
    void unusablePreviousFileIsReplaced_data();
    void unusablePreviousFileIsReplaced();
    void unwritableFolderIsOneWarning();
    void defaultPath_data();
    void defaultPath();

private:
    QTemporaryDir m_dir;
    QString m_path;
};

void TestResultFile::init()
{
    m_path = m_dir.filePath(QStringLiteral("state/norvo/scheduled-scan.json"));
    QFile::remove(m_path);
}

void TestResultFile::finishedRunWithThreats()
{
    RunReport report = reportOf(Outcome::Finished);
    report.reason = QStringLiteral("Scheduled scan finished: task 12, final status 0 (Success), "
                                   "files scanned: 5400, threats found: 1");
    report.taskId = 12;
    report.finalStatusCode = 0;
    report.finalStatusText = QStringLiteral("Success");
    report.filesScanned = 5400;
    report.filesToScan = 5400;
    report.threatsFound = 1;
    report.threats << RunReport::Threat{QStringLiteral("/home/u/Downloads/invoice.com"),
                                        {QStringLiteral("EICAR-Test-File")},
                                        QStringLiteral("reported"),
                                        QStringLiteral("Success")};

    QVERIFY(ResultFile(m_path).write(report));
    const QJsonObject expected{
        {"version", 1},
        {"started", "2026-12-10T02:00:05Z"},
        {"ended", "2026-12-10T02:41:00Z"},
        {"outcome", "finished"},
        {"reason", report.reason},
        {"taskId", 12},
        {"finalStatus", QJsonObject{{"code", 0}, {"text", "Success"}}},
        {"filesScanned", 5400},
        {"filesToScan", 5400},
        {"threats", QJsonArray{QJsonObject{{"file", "/home/u/Downloads/invoice.com"},
                                           {"names", QJsonArray{"EICAR-Test-File"}},
                                           {"action", "reported"},
                                           {"result", "Success"}}}},
        {"threatsOmitted", 0},
        {"exitStatus", 1},
        {"lastCompleted", "2026-12-10T02:41:00Z"}};
    QCOMPARE(contentOf(m_path), expected);

    const std::optional<ResultFile::Previous> previous = ResultFile(m_path).read();
    QVERIFY(previous);
    QCOMPARE(previous->outcome, std::optional<Outcome>(Outcome::Finished));
    QCOMPARE(previous->lastCompleted, kEnded);
}

void TestResultFile::lastCompletedIsCarriedOver_data()
{
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("exitStatus");
    QTest::addColumn<QJsonValue>("finalStatus");

    QTest::newRow("refused") << Outcome::Refused << "refused" << 2 << QJsonValue();
    QTest::newRow("forbidden") << Outcome::Forbidden << "forbidden" << 2 << QJsonValue();
    QTest::newRow("not started") << Outcome::NotStarted << "not-started" << 2 << QJsonValue();
    QTest::newRow("connection lost")
        << Outcome::ConnectionLost << "connection-lost" << 2 << QJsonValue();
    QTest::newRow("stopped") << Outcome::Stopped << "stopped" << 0 << QJsonValue();
}

void TestResultFile::lastCompletedIsCarriedOver()
{
    QFETCH(Outcome, outcome);
    QFETCH(QString, name);
    QFETCH(int, exitStatus);
    QFETCH(QJsonValue, finalStatus);

    const ResultFile file(m_path);
    QVERIFY(file.write(reportOf(outcome)));
    QCOMPARE(contentOf(m_path).value("lastCompleted"), QJsonValue());

    QVERIFY(file.write(reportOf(Outcome::Finished)));
    const QDateTime later = kEnded.addDays(1);
    QVERIFY(file.write(reportOf(outcome, later)));
    const QJsonObject content = contentOf(m_path);
    QCOMPARE(content.value("outcome"), QJsonValue(name));
    QCOMPARE(content.value("ended"), QJsonValue("2026-12-11T02:41:00Z"));
    QCOMPARE(content.value("lastCompleted"), QJsonValue("2026-12-10T02:41:00Z"));
    QCOMPARE(content.value("exitStatus"), QJsonValue(exitStatus));
    QCOMPARE(content.value("finalStatus"), finalStatus);
    QCOMPARE(file.read()->outcome, std::optional<Outcome>(outcome));
    QCOMPARE(file.read()->lastCompleted, kEnded);
}

void TestResultFile::longThreatListIsCapped()
{
    RunReport report = reportOf(Outcome::Finished);
    report.threatsFound = 1500;
    for (int i = 0; i < RunReport::kMaxThreats + 2; ++i) {
        report.threats << RunReport::Threat{QStringLiteral("/f%1").arg(i), {}, {}, {}};
    }
    QVERIFY(ResultFile(m_path).write(report));
    const QJsonObject content = contentOf(m_path);
    const QJsonArray threats = content.value("threats").toArray();
    QCOMPARE(threats.size(), RunReport::kMaxThreats);
    QCOMPARE(threats.last().toObject().value("file"), QJsonValue("/f999"));
    QCOMPARE(content.value("threatsOmitted"), QJsonValue(500));
}

void TestResultFile::fileAndFolderArePrivate()
{
    // A folder that exists already with the usual mode is made private as well.
    const QString folder = QFileInfo(m_path).absolutePath();
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                              QFile::ReadOther | QFile::ExeOther));
    writeRaw(m_path, "{}");
    QVERIFY(QFile::setPermissions(m_path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));

    QVERIFY(ResultFile(m_path).write(reportOf(Outcome::Finished)));
    // The "User" bits repeat the owner's for the current user: only the mode itself is compared.
    const QFile::Permissions mode = ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser);
    QCOMPARE(QFileInfo(m_path).permissions() & mode, QFile::ReadOwner | QFile::WriteOwner);
    QCOMPARE(QFileInfo(folder).permissions() & mode,
             QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void TestResultFile::unusablePreviousFileIsReplaced_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("problem");
    QTest::newRow("cut short") << QByteArray("{\"version\": 1, \"lastCompl")
                               << "unterminated string";
    QTest::newRow("not an object") << QByteArray("[1]") << "not a JSON object";
}

void TestResultFile::unusablePreviousFileIsReplaced()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, problem);
    writeRaw(m_path, content);
    const ResultFile file(m_path);
    QCOMPARE(file.read(), std::nullopt);

    LogCapture log;
    QVERIFY(file.write(reportOf(Outcome::Stopped)));
    QCOMPARE(log.lines(), QStringList{QStringLiteral("Cannot read the previous result file %1 "
                                                     "(%2), it is replaced")
                                          .arg(m_path, problem)});
    QCOMPARE(contentOf(m_path).value("outcome"), QJsonValue("stopped"));
}

void TestResultFile::unwritableFolderIsOneWarning()
{
    // A regular file where the folder should be: no permission bits involved, so this holds for
    // root as well.
    writeRaw(m_dir.filePath(QStringLiteral("blocked")), "");
    const QString path = m_dir.filePath(QStringLiteral("blocked/norvo/scheduled-scan.json"));

    LogCapture log;
    QVERIFY(!ResultFile(path).write(reportOf(Outcome::Finished)));
    QCOMPARE(
        log.lines(),
        QStringList{QStringLiteral("Cannot write the result file %1: cannot make its folder %2")
                        .arg(path, QFileInfo(path).absolutePath())});
}

void TestResultFile::defaultPath_data()
{
    QTest::addColumn<QByteArray>("stateHome");
    QTest::addColumn<QString>("expected");
    QTest::newRow("set") << QByteArray("/var/state") << "/var/state/norvo/scheduled-scan.json";
    QTest::newRow("unset") << QByteArray()
                           << QDir::homePath() + "/.local/state/norvo/scheduled-scan.json";
    QTest::newRow("relative, ignored")
        << QByteArray("state") << QDir::homePath() + "/.local/state/norvo/scheduled-scan.json";
}

void TestResultFile::defaultPath()
{
    QFETCH(QByteArray, stateHome);
    QFETCH(QString, expected);
    const QByteArray saved = qgetenv("XDG_STATE_HOME");
    qputenv("XDG_STATE_HOME", stateHome);
    const QString path = ResultFile::defaultPath();
    qputenv("XDG_STATE_HOME", saved);
    QCOMPARE(path, expected);
}

QTEST_GUILESS_MAIN(TestResultFile)
#include "tst_resultfile.moc"
