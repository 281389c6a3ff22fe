#include "EscapedName.h"
#include "ResultFile.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <limits>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

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

QByteArray bytesOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

mode_t modeOf(const QString& path)
{
    struct stat status;
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 07777 : 0;
}

bool isRegularFile(const QString& path)
{
    struct stat status;
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISREG(status.st_mode);
}

RunReport withThreats(int count, const QByteArray& file, int names)
{
    RunReport report = reportOf(Outcome::Finished);
    for (int i = 0; i < count; ++i) {
        RunReport::Threat threat;
        threat.setFile(file + QByteArray::number(i));
        for (int name = 0; name < names; ++name) {
            threat.addName(QString(RunReport::Threat::kMaxNameChars, QChar(0x1)));
        }
        report.threats << threat;
    }
    report.threatsFound = quint64(count);
    return report;
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
    void whatSitsAtThePath_data();
    void whatSitsAtThePath();
    void linkedFolderIsLeftAlone();
    void fullDiskKeepsThePreviousFile();
    void countsAreExact();
    void namesKeepTheirBytes();
    void longNamesKeepTheFileBounded();
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
    report.threats << RunReport::Threat{"/home/u/Downloads/invoice.com",
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
        report.threats << RunReport::Threat{"/f" + QByteArray::number(i), {}, {}, {}};
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

void TestResultFile::whatSitsAtThePath_data()
{
    // How to put something at the path, and whether it is a link that must stay as it is.
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("warning"); // %1 is the path
    QTest::newRow("FIFO") << "fifo"
                          << "Cannot read the previous result file %1 (not a regular file), it "
                             "is replaced";
    QTest::newRow("device") << "device"
                            << "Cannot read the previous result file %1 (not a regular file), "
                               "it is replaced";
    QTest::newRow("huge file") << "huge"
                               << "Cannot read the previous result file %1 (larger than 4194304 "
                                  "bytes), it is replaced";
    QTest::newRow("link to /dev/zero")
        << "zero link"
        << "Cannot write the result file %1: it is a symbolic link, left as it is";
    QTest::newRow("link to a file")
        << "file link"
        << "Cannot write the result file %1: it is a symbolic link, left as it is";
}

void TestResultFile::whatSitsAtThePath()
{
    QFETCH(QString, kind);
    QFETCH(QString, warning);
    const QByteArray path = QFile::encodeName(m_path);
    const QString target = m_dir.filePath(QStringLiteral("shared.json"));
    writeRaw(target, "{\"outcome\": \"finished\"}");
    QVERIFY(QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
    QVERIFY(QDir().mkpath(QFileInfo(m_path).absolutePath()));
    if (kind == "fifo") {
        QCOMPARE(::mkfifo(path.constData(), 0600), 0);
    } else if (kind == "device" && ::mknod(path.constData(), S_IFCHR | 0600, makedev(1, 5)) != 0) {
        QSKIP("mknod needs root: no device at the path");
    } else if (kind == "huge") {
        writeRaw(m_path, "");
        QCOMPARE(::truncate(path.constData(), off_t(1) << 30), 0);
    } else if (kind == "zero link") {
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), m_path));
    } else if (kind == "file link") {
        QVERIFY(QFile::link(target, m_path));
    }
    const bool link = kind.endsWith("link");
    auto cleanUp = qScopeGuard([this] { ::unlink(QFile::encodeName(m_path).constData()); });

    // Neither waits for a writer, nor reads without bound.
    const ResultFile file(m_path);
    QCOMPARE(file.read(), std::nullopt);
    LogCapture log;
    QCOMPARE(file.write(reportOf(Outcome::Finished)), !link);
    QCOMPARE(log.lines(), QStringList{warning.arg(m_path)});
    QCOMPARE(isRegularFile(m_path), !link);
    if (link) {
        QCOMPARE(QFileInfo(m_path).symLinkTarget(), kind == "file link" ? target : "/dev/zero");
    } else {
        QCOMPARE(contentOf(m_path).value("outcome"), QJsonValue("finished"));
    }
    QCOMPARE(bytesOf(target), QByteArray("{\"outcome\": \"finished\"}"));
    QCOMPARE(modeOf(target), mode_t(0604));
}

void TestResultFile::linkedFolderIsLeftAlone()
{
    const QString shared = m_dir.filePath(QStringLiteral("shared"));
    QVERIFY(QDir().mkpath(shared));
    QVERIFY(QFile::setPermissions(shared, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                              QFile::ReadOther | QFile::ExeOther));
    const QString path = m_dir.filePath(QStringLiteral("linked/norvo/scheduled-scan.json"));
    QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("linked"))));
    QVERIFY(QFile::link(shared, QFileInfo(path).absolutePath()));

    LogCapture log;
    QVERIFY(!ResultFile(path).write(reportOf(Outcome::Finished)));
    QCOMPARE(log.lines(), QStringList{QStringLiteral("Cannot write the result file %1: its folder "
                                                     "%2 is a symbolic link, left as it is")
                                          .arg(path, QFileInfo(path).absolutePath())});
    QCOMPARE(modeOf(shared), mode_t(0705));
    QCOMPARE(QDir(shared).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList());
}

void TestResultFile::fullDiskKeepsThePreviousFile()
{
    // A disk of 64 KiB in a mount namespace of this test's own, so nothing shows outside it.
    const QString disk = m_dir.filePath(QStringLiteral("disk"));
    QVERIFY(QDir().mkpath(disk));
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", QFile::encodeName(disk).constData(), "tmpfs", 0, "size=64k") != 0) {
        QSKIP("Cannot mount a private tmpfs (needs root): the full disk is not tried");
    }
    auto unmount = qScopeGuard([&disk] { ::umount2(QFile::encodeName(disk).constData(), 0); });
    const QString path = disk + QStringLiteral("/norvo/scheduled-scan.json");
    QVERIFY(ResultFile(path).write(reportOf(Outcome::Finished)));
    const QByteArray previous = bytesOf(path);
    QVERIFY(!previous.isEmpty());

    const int filler = ::open(QFile::encodeName(disk + "/filler").constData(),
                              O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    QVERIFY(filler >= 0);
    const QByteArray block(4096, 'x');
    while (::write(filler, block.constData(), size_t(block.size())) > 0) {
    }
    ::close(filler);

    LogCapture log;
    QVERIFY(!ResultFile(path).write(withThreats(100, "/home/u/f", 1)));
    QCOMPARE(log.lines(), QStringList{QStringLiteral("Cannot write the result file %1: No space "
                                                     "left on device")
                                          .arg(path)});
    QCOMPARE(bytesOf(path), previous);
    QCOMPARE(QDir(disk + "/norvo").entryList(QDir::Files | QDir::Hidden | QDir::System),
             QStringList{"scheduled-scan.json"});
}

void TestResultFile::countsAreExact()
{
    RunReport report = reportOf(Outcome::Finished);
    report.filesScanned = (quint64(1) << 53) + 1;
    report.filesToScan = std::numeric_limits<quint64>::max();
    QVERIFY(ResultFile(m_path).write(report));
    const QByteArray text = bytesOf(m_path);
    QVERIFY2(text.contains("\n    \"filesScanned\": 9007199254740993,\n"), text.constData());
    QVERIFY2(text.contains("\n    \"filesToScan\": 18446744073709551615,\n"), text.constData());
    const QJsonObject content = QJsonDocument::fromJson(text).object();
    QCOMPARE(content.value("filesScanned").toInteger(), (qint64(1) << 53) + 1);
    QCOMPARE(ResultFile(m_path).read()->outcome, Outcome::Finished);
}

void TestResultFile::namesKeepTheirBytes()
{
    RunReport report = reportOf(Outcome::Finished);
    const QList<QByteArray> files{"/srv/ok \xc3\xbc", QByteArray("/srv/\xff\xfe\n\0x", 10)};
    for (const QByteArray& file : files) {
        RunReport::Threat threat;
        threat.setFile(file);
        report.threats << threat;
    }
    QVERIFY(ResultFile(m_path).write(report));
    const QJsonArray threats = contentOf(m_path).value("threats").toArray();
    QCOMPARE(threats.size(), 2);
    // Text where text holds the name exactly, its bytes beside it where not.
    QCOMPARE(threats[0].toObject().value("file"), QJsonValue(QString::fromUtf8(files[0])));
    QVERIFY(!threats[0].toObject().contains("fileBase64"));
    QCOMPARE(threats[1].toObject().value("file"), QJsonValue(QFile::decodeName(files[1])));
    QCOMPARE(
        QByteArray::fromBase64(threats[1].toObject().value("fileBase64").toString().toLatin1()),
        files[1]);
}

void TestResultFile::longNamesKeepTheFileBounded()
{
    // The longest names there are, all in escapes, on as many threats as are kept.
    const RunReport report =
        withThreats(RunReport::kMaxThreats, QByteArray(kMaxNameBytes + 100, '\x01'), 20);
    QCOMPARE(report.threats[0].file.size(), kMaxNameBytes);
    QVERIFY(ResultFile(m_path).write(report));
    QVERIFY(QFileInfo(m_path).size() <= ResultFile::kMaxFileBytes);
    const QJsonObject content = contentOf(m_path);
    const QJsonArray threats = content.value("threats").toArray();
    QVERIFY(threats.size() > 0);
    QCOMPARE(threats.size() + content.value("threatsOmitted").toInteger(), RunReport::kMaxThreats);
    const QJsonObject first = threats[0].toObject();
    QCOMPARE(first.value("names").toArray().size(), RunReport::Threat::kMaxNames);
    QCOMPARE(first.value("namesOmitted"), QJsonValue(20 - RunReport::Threat::kMaxNames));
    QCOMPARE(first.value("fileCut"), QJsonValue(true));
    // The next run reads it.
    QCOMPARE(ResultFile(m_path).read()->outcome, Outcome::Finished);
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
