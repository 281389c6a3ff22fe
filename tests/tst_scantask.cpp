#include "ScanTask.h"
#include "Settings.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

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

constexpr uid_t kNobody = 65534;
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
    void unreadableSettingsFileIsNoSchedule();
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
    QTest::addColumn<QString>("problem"); // %1 is the settings file

    const QByteArray plainPath("/usr/bin:/bin");
    const QStringList express = kBuiltIn + userDirs();

    QTest::newRow("nothing stored is an express scan")
        << Schedule{} << plainPath << express << true << true << false << QString();
    QTest::newRow("new PATH entries follow the built-in list")
        << Schedule{} << QByteArray("/usr/bin:/home/u/bin")
        << kBuiltIn + QStringList{"/home/u/bin"} + userDirs() << true << true << false << QString();
    QTest::newRow("exact-string duplicates only")
        << Schedule{} << QByteArray("/usr/bin/:/x:/x:/tmp")
        << kBuiltIn + QStringList{"/usr/bin/", "/x", "/tmp"} + userDirs() << true << true << false
        << QString();
    QTest::newRow("PATH unset adds nothing")
        << Schedule{} << QByteArray() << express << true << true << false << QString();
    QTest::newRow("empty and relative PATH entries are no targets")
        << Schedule{} << QByteArray(":/x::.:bin:") << kBuiltIn + QStringList{"/x"} + userDirs()
        << true << true << false << QString();
    QTest::newRow("FullScan") << Schedule{QStringLiteral("FullScan"), {}, {}} << plainPath
                              << QStringList{"/"} << true << true << false << QString();
    QTest::newRow("CustomScan system and MBR, custom /srv")
        << Schedule{QStringLiteral("CustomScan"),
                    {{"System", true}, {"MBR", true}, {"User", false}},
                    {{"/srv", true}, {"/data", false}}}
        << plainPath << kBuiltIn + QStringList{"/srv"} << true << false << false << QString();
    QTest::newRow("CustomScan user before system, custom paths by key, duplicates kept")
        << Schedule{QStringLiteral("CustomScan"),
                    {{"System", true}, {"User", true}, {"RunningProcesses", true}},
                    {{"/tmp", true}, {"/b", true}, {"/a", true}}}
        << plainPath << userDirs() + kBuiltIn + QStringList{"/a", "/b", "/tmp"} << false << true
        << false << QString();
    QTest::newRow("CustomScan with nothing selected")
        << Schedule{QStringLiteral("CustomScan"), {}, {}} << plainPath << QStringList{} << false
        << false << false << "the schedule in \"%1\" selects nothing to scan";
    QTest::newRow("ScheduledScan is no schedule type")
        << Schedule{QStringLiteral("ScheduledScan"), {}, {}} << plainPath << QStringList{} << false
        << false << true << "the schedule in \"%1\" names an unknown scan type \"ScheduledScan\"";
    QTest::newRow("names are case-sensitive")
        << Schedule{QStringLiteral("fullscan"), {}, {}} << plainPath << QStringList{} << false
        << false << true << "the schedule in \"%1\" names an unknown scan type \"fullscan\"";
    QTest::newRow("unknown name, escaped")
        << Schedule{QStringLiteral("Weekly\n"), {}, {}} << plainPath << QStringList{} << false
        << false << true << "the schedule in \"%1\" names an unknown scan type \"Weekly\\n\"";
}

void TestScanTask::schedule()
{
    QFETCH(Schedule, stored);
    QFETCH(QByteArray, pathEnv);
    QFETCH(QStringList, paths);
    QFETCH(bool, scanMbr);
    QFETCH(bool, scanProcesses);
    QFETCH(bool, warns);
    QFETCH(QString, problem);

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
    QCOMPARE(task.problem(), problem.isEmpty() ? QString() : problem.arg(settings.fileName()));
}

void TestScanTask::unreadableSettingsFileIsNoSchedule()
{
    Settings& settings = Settings::instance();
    QCOMPARE(Settings::userFileName(), settings.fileName());
    settings.setValue(QStringLiteral("FullScan"), Settings::ScheduleScanType, Settings::Scan);
    QCOMPARE(settings.sync(), QSettings::NoError);
    const QByteArray file = QFile::encodeName(settings.fileName());
    QCOMPARE(::chmod(file.constData(), 0), 0);
    auto restore = qScopeGuard([&file] { ::chmod(file.constData(), 0600); });
    // Root reads any file: the check runs as another user, who may pass the folders.
    const bool asRoot = ::geteuid() == 0;
    if (asRoot) {
        for (QString folder = QFileInfo(settings.fileName()).path();
             folder.startsWith(m_config.path()); folder = QFileInfo(folder).path()) {
            QCOMPARE(::chmod(QFile::encodeName(folder).constData(), 0711), 0);
        }
        QCOMPARE(::seteuid(kNobody), 0);
    }
    const ScanTask task(ScanTask::ScheduledScan);
    QVERIFY(!asRoot || ::seteuid(0) == 0);
    QCOMPARE(task.problem(), QStringLiteral("the settings file \"%1\" cannot be read: Permission "
                                            "denied")
                                 .arg(settings.fileName()));
    QCOMPARE(task.paths(), QStringList());
    QVERIFY(!task.scanMbr() && !task.scanRunningProcesses());
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
