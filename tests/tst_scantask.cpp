#include "ScanTask.h"
#include "Settings.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QStringList kBuiltIn{"/bin",
                           "/sbin",
                           "/usr/bin",
                           "/usr/sbin",
                           "/usr/local/bin",
                           "/usr/local/sbin",
                           "/lib",
                           "/usr/lib",
                           "/usr/local/lib",
                           "/opt",
                           "/boot",
                           "/lib32",
                           "/lib64",
                           "/usr/lib32",
                           "/usr/lib64",
                           "/usr/local/lib32",
                           "/usr/local/lib64"};

QStringList userDirs()
{
    return {QDir::home().absolutePath(), "/var/mail", "/tmp", "/var/tmp"};
}

const QString kUnrecognized = QStringLiteral("Scan task by shedule: Unrecognized scan type");

// The schedule as the front-end stores it; an invalid variant leaves the key unset.
struct Schedule
{
    QVariant type;
    QVariantMap persistent;
    QVariantMap custom;
};

} // namespace

Q_DECLARE_METATYPE(Schedule)

class TestScanTask : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void schedule_data();
    void schedule();
    void constructorsByType();
    void symbolicLinksAreResolved();
    void conversions();

private:
    QTemporaryDir m_config;
    QByteArray m_path;
};

void TestScanTask::initTestCase()
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    QCoreApplication::setOrganizationName(QStringLiteral("norvo"));
    QCoreApplication::setApplicationName(QStringLiteral("norvo-gui"));
    m_path = qgetenv("PATH");
}

void TestScanTask::cleanup()
{
    Settings::instance().reset();
    qputenv("PATH", m_path);
}

void TestScanTask::schedule_data()
{
    QTest::addColumn<Schedule>("stored");
    QTest::addColumn<QByteArray>("pathEnv"); // null: PATH unset
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<bool>("scanMbr");
    QTest::addColumn<bool>("scanProcesses");
    QTest::addColumn<bool>("warns");

    const QByteArray plainPath("/usr/bin:/bin");
    const QStringList express = kBuiltIn + userDirs();

    QTest::newRow("nothing stored is an express scan")
        << Schedule{} << plainPath << express << true << true << false;
    QTest::newRow("new PATH entries follow the built-in list")
        << Schedule{} << QByteArray("/usr/bin:/home/u/bin")
        << kBuiltIn + QStringList{"/home/u/bin"} + userDirs() << true << true << false;
    QTest::newRow("exact-string duplicates only")
        << Schedule{} << QByteArray("/usr/bin/:/x:/x:/tmp")
        << kBuiltIn + QStringList{"/usr/bin/", "/x", "/tmp"} + userDirs() << true << true << false;
    QTest::newRow("PATH unset adds nothing")
        << Schedule{} << QByteArray() << express << true << true << false;
    QTest::newRow("empty and relative PATH entries are no targets")
        << Schedule{} << QByteArray(":/x::.:bin:") << kBuiltIn + QStringList{"/x"} + userDirs()
        << true << true << false;
    QTest::newRow("FullScan") << Schedule{QStringLiteral("FullScan"), {}, {}} << plainPath
                              << QStringList{"/"} << true << true << false;
    QTest::newRow("CustomScan system and MBR, custom /srv")
        << Schedule{QStringLiteral("CustomScan"),
                    {{"System", true}, {"MBR", true}, {"User", false}},
                    {{"/srv", true}, {"/data", false}}}
        << plainPath << kBuiltIn + QStringList{"/srv"} << true << false << false;
    QTest::newRow("CustomScan user before system, custom paths by key, duplicates kept")
        << Schedule{QStringLiteral("CustomScan"),
                    {{"System", true}, {"User", true}, {"RunningProcesses", true}},
                    {{"/tmp", true}, {"/b", true}, {"/a", true}}}
        << plainPath << userDirs() + kBuiltIn + QStringList{"/a", "/b", "/tmp"} << false << true
        << false;
    QTest::newRow("CustomScan with nothing selected")
        << Schedule{QStringLiteral("CustomScan"), {}, {}} << plainPath << QStringList{} << false
        << false << false;
    QTest::newRow("ScheduledScan is no schedule type")
        << Schedule{QStringLiteral("ScheduledScan"), {}, {}} << plainPath << QStringList{} << false
        << false << true;
    QTest::newRow("names are case-sensitive")
        << Schedule{QStringLiteral("fullscan"), {}, {}} << plainPath << QStringList{} << false
        << false << true;
    QTest::newRow("unknown name") << Schedule{QStringLiteral("Weekly"), {}, {}} << plainPath
                                  << QStringList{} << false << false << true;
}

void TestScanTask::schedule()
{
    QFETCH(Schedule, stored);
    QFETCH(QByteArray, pathEnv);
    QFETCH(QStringList, paths);
    QFETCH(bool, scanMbr);
    QFETCH(bool, scanProcesses);
    QFETCH(bool, warns);

    Settings& settings = Settings::instance();
    if (stored.type.isValid()) {
        settings.setValue(stored.type, Settings::ScheduleScanType, Settings::Scan);
    }
    if (!stored.persistent.isEmpty()) {
        settings.setValue(stored.persistent, Settings::SchedulePersistentPaths, Settings::Scan);
    }
    if (!stored.custom.isEmpty()) {
        settings.setValue(stored.custom, Settings::ScheduleCustomPaths, Settings::Scan);
    }
    if (pathEnv.isNull()) {
        qunsetenv("PATH");
    } else {
        qputenv("PATH", pathEnv);
    }

    LogCapture log;
    const ScanTask task(ScanTask::ScheduledScan);
    QCOMPARE(task.scanType(), ScanTask::ScheduledScan);
    QCOMPARE(task.paths(), paths);
    QCOMPARE(task.scanMbr(), scanMbr);
    QCOMPARE(task.scanRunningProcesses(), scanProcesses);
    QCOMPARE(log.lines(QtWarningMsg), warns ? QStringList{kUnrecognized} : QStringList{});
}

void TestScanTask::constructorsByType()
{
    qputenv("PATH", "/usr/bin");
    const ScanTask express(ScanTask::ExpressScan);
    QCOMPARE(express.paths(), kBuiltIn + userDirs());
    QVERIFY(express.scanMbr() && express.scanRunningProcesses());

    const ScanTask full(ScanTask::FullScan, {"/given"}, false, false);
    QCOMPARE(full.paths(), (QStringList{"/given", "/"}));
    QVERIFY(full.scanMbr() && full.scanRunningProcesses());

    const ScanTask custom(ScanTask::CustomScan, {"/given"}, true, false);
    QCOMPARE(custom.paths(), QStringList{"/given"});
    QVERIFY(custom.scanMbr() && !custom.scanRunningProcesses());

    const ScanTask unknown(ScanTask::UnknownScan);
    QVERIFY(unknown.paths().isEmpty() && !unknown.scanMbr() && !unknown.scanRunningProcesses());
}

void TestScanTask::symbolicLinksAreResolved()
{
    QTemporaryDir tree;
    QVERIFY(QDir(tree.path()).mkdir("target"));
    QVERIFY(QDir(tree.path()).mkdir("chain"));
    const QString target = tree.filePath("target");
    const QString absoluteLink = tree.filePath("absolute");
    const QString relativeLink = tree.filePath("relative");
    const QString chainedLink = tree.filePath("chained");
    QVERIFY(QFile::link(target, absoluteLink));
    QVERIFY(QFile::link("target", relativeLink));
    // One level only: a link to a link resolves to the inner link, not to its target.
    QVERIFY(QFile::link(absoluteLink, chainedLink));
    const QString missing = tree.filePath("missing");

    const ScanTask task(ScanTask::CustomScan,
                        {absoluteLink, relativeLink, chainedLink, missing, target}, false, true);
    QCOMPARE(task.paths(), (QStringList{target, target, absoluteLink, missing, target}));
    QVERIFY(!task.scanMbr() && task.scanRunningProcesses());
}

void TestScanTask::conversions()
{
    QCOMPARE(ScanTask::scanTypeToString(ScanTask::ScheduledScan), QStringLiteral("ScheduledScan"));
    QVERIFY(ScanTask::scanTypeToString(5).isNull());
    QCOMPARE(ScanTask::itemTypeToString(ScanTask::RunningProcesses),
             QStringLiteral("RunningProcesses"));
    QVERIFY(ScanTask::itemTypeToString(-1).isNull());
    QCOMPARE(ScanTask::scanTypeFromString("CustomScan"), int(ScanTask::CustomScan));
    QCOMPARE(ScanTask::scanTypeFromString("customscan"), -1);
    QCOMPARE(ScanTask::itemTypeFromString("MBR"), int(ScanTask::MBR));
    QCOMPARE(ScanTask::itemTypeFromString(""), -1);
}

QTEST_GUILESS_MAIN(TestScanTask)
#include "tst_scantask.moc"
