#include "FcIPCLink.h"
#include "ScheduleCommand.h"
#include "Settings.h"
#include "SystemdTimer.h"
#include "TestSupport.h"
#include "fcheck_client_ipc.pb.h"

#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

namespace {

const QString kNextRun = QStringLiteral("Sat 2026-12-12 02:00:00 UTC");

struct Output
{
    int status = -1;
    QString out;
    QString err;
};

template <typename Command> Output run(Command command)
{
    Output output;
    QTextStream out(&output.out);
    QTextStream err(&output.err);
    output.status = command(out, err);
    out.flush();
    err.flush();
    return output;
}

QString settingsFile()
{
    return Settings::instance().fileName();
}

// The file as the front-end reads it.
QVariant stored(const QString& key)
{
    return QSettings(settingsFile(), QSettings::IniFormat).value(key);
}

} // namespace

class TestScheduleCommand : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void setShowAndScan_data();
    void setShowAndScan();
    void otherKeysKeptByteForByte();
    void refusedSchedules_data();
    void refusedSchedules();
    void unreadableSettings_data();
    void unreadableSettings();
    void nextElapseFromListing_data();
    void nextElapseFromListing();

private:
    QTemporaryDir m_config;
    QTemporaryDir m_work;
    const ScheduleCommand m_command{[] { return kNextRun; }};
};

void TestScheduleCommand::initTestCase()
{
    // The runner reads the real settings path, so the test moves the whole configuration home;
    // QSettings resolves it once, before the store's first use.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    QCoreApplication::setOrganizationName(QStringLiteral("norvo"));
    QCoreApplication::setApplicationName(QStringLiteral("norvo-gui"));
    QVERIFY(QDir::setCurrent(m_work.path()));
    for (const char* dir : {"a-dir", "b-dir",
                            "donn\xc3\xa9"
                            "es"}) {
        QVERIFY(QDir(m_work.path()).mkdir(QString::fromUtf8(dir)));
    }
}

void TestScheduleCommand::init()
{
    Settings::instance().reset();
    QCOMPARE(Settings::instance().sync(), QSettings::NoError);
}

void TestScheduleCommand::cleanup()
{
    QDir(settingsFile()).removeRecursively();
}

void TestScheduleCommand::setShowAndScan_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QList<ScanTask::ItemType>>("items");
    QTest::addColumn<QByteArrayList>("paths");
    QTest::addColumn<QString>("storedType");
    QTest::addColumn<QStringList>("targets");
    QTest::addColumn<bool>("boot");
    QTest::addColumn<bool>("processes");
    QTest::addColumn<QString>("warnings");

    const QStringList system = ScanTask::systemPaths();
    const QStringList user = ScanTask::userPaths();
    const QString work = m_work.path();
    QTest::newRow("express") << "express" << QList<ScanTask::ItemType>() << QByteArrayList()
                             << "ExpressScan" << system + user << true << true << QString();
    QTest::newRow("full") << "full" << QList<ScanTask::ItemType>() << QByteArrayList() << "FullScan"
                          << QStringList{"/"} << true << true << QString();
    QTest::newRow("custom, everything, a relative path")
        << "custom"
        << QList<ScanTask::ItemType>{ScanTask::RunningProcesses, ScanTask::System, ScanTask::User,
                                     ScanTask::MBR}
        << QByteArrayList{"b-dir", QFile::encodeName(work + "/a-dir")} << "CustomScan"
        << user + system + QStringList{work + "/a-dir", work + "/b-dir"} << true << true
        << QString();
    QTest::newRow("custom, system and boot records")
        << "custom" << QList<ScanTask::ItemType>{ScanTask::System, ScanTask::MBR}
        << QByteArrayList() << "CustomScan" << system << true << false << QString();
    QTest::newRow("custom, an absent path and one not ASCII")
        << "custom" << QList<ScanTask::ItemType>{ScanTask::RunningProcesses}
        << QByteArrayList{"/media/usb/", QFile::encodeName(work) + "/donn\xc3\xa9"
                                                                   "es"}
        << "CustomScan"
        << QStringList{"/media/usb", work + QString::fromUtf8("/donn\xc3\xa9"
                                                              "es")}
        << false << true
        << QStringLiteral("Warning: \"/media/usb\" does not exist now; it stays in the schedule\n");
}

void TestScheduleCommand::setShowAndScan()
{
    QFETCH(QString, type);
    QFETCH(QList<ScanTask::ItemType>, items);
    QFETCH(QByteArrayList, paths);
    QFETCH(QString, storedType);
    QFETCH(QStringList, targets);
    QFETCH(bool, boot);
    QFETCH(bool, processes);
    QFETCH(QString, warnings);

    const Output set = run([&](QTextStream& out, QTextStream& err) {
        return m_command.set(type, items, paths, out, err);
    });
    QCOMPARE(set.err, warnings);
    QCOMPARE(set.status, 0);

    QString expected = QStringLiteral("Scan type: %1\n").arg(storedType);
    for (const QString& target : targets) {
        expected += QStringLiteral("Target: %1\n").arg(target);
    }
    expected += QStringLiteral("PATH: %1\nBoot records: %2\nRunning processes: %3\n"
                               "Settings file: %4\nNext run: %5\n")
                    .arg(qEnvironmentVariable("PATH"), boot ? "yes" : "no",
                         processes ? "yes" : "no", settingsFile(), kNextRun);
    const Output show =
        run([&](QTextStream& out, QTextStream& err) { return m_command.show(out, err); });
    QCOMPARE(show.status, 0);
    QCOMPARE(show.out, expected);
    QCOMPARE(set.out, expected);

    QCOMPARE(stored("Scan/ScheduleScanType").toString(), storedType);
    if (type == "custom") {
        const QVariantMap selection = stored("Scan/SchedulePersistentPaths").toMap();
        QCOMPARE(selection.keys(), QStringList({"MBR", "RunningProcesses", "System", "User"}));
        for (auto it = selection.cbegin(); it != selection.cend(); ++it) {
            const int item = ScanTask::itemTypeFromString(it.key());
            QCOMPARE(it.value().toBool(), items.contains(ScanTask::ItemType(item)));
        }
    }

    SocketPair pair;
    FcIPCLink link{pair.client(), nullptr};
    link.scan(QSharedPointer<ScanTask>::create(ScanTask::ScheduledScan), nv::LinuxGUIConfig(),
              std::string());
    const auto sent = readMessages<fc::ClientMessage>(pair.peer(), 1);
    QCOMPARE(sent.size(), 1);
    const fc::ScanRequest& request = sent.first().scan_request();
    QByteArrayList included;
    for (const std::string& path : request.included_path()) {
        included << QByteArray::fromStdString(path);
    }
    QByteArrayList expectedBytes;
    for (const QString& target : targets) {
        expectedBytes << QFile::encodeName(target);
    }
    QCOMPARE(included, expectedBytes);
    QCOMPARE(request.boot_dev_path_size() > 0, boot);
    QCOMPARE(request.scan_processes(), processes);
}

void TestScheduleCommand::otherKeysKeptByteForByte()
{
    {
        QSettings frontEnd(settingsFile(), QSettings::IniFormat);
        frontEnd.setValue("General/Sound", false);
        frontEnd.setValue("General/Size", QSize(640, 480));
        frontEnd.setValue("ES/Host", "es.example");
        frontEnd.setValue("Scan/ExcludedPaths",
                          QStringList{"/proc", QString::fromUtf8("/srv/donn\xc3\xa9"
                                                                 "es")});
        frontEnd.setValue("Scan/ScheduleTime", QTime(3, 30));
        frontEnd.setValue("Scan/ScheduleScanType", "FullScan");
        frontEnd.setValue("Scan/ScheduleCustomPaths", QVariantMap{{"/old", true}});
        frontEnd.setValue("Proxy/Port", 3128);
        frontEnd.setValue("Window/state", QByteArray("\x00\x01\xff", 3));
    }
    QCOMPARE(Settings::instance().sync(), QSettings::NoError);
    const QList<QByteArray> before = linesBesideSchedule(settingsFile());

    const Output set = run([&](QTextStream& out, QTextStream& err) {
        return m_command.set("custom", {ScanTask::User}, {"/srv"}, out, err);
    });
    QCOMPARE(set.status, 0);
    QCOMPARE(stored("Scan/ScheduleScanType").toString(), "CustomScan");
    QCOMPARE(stored("Scan/ScheduleCustomPaths").toMap(), QVariantMap({{"/srv", true}}));
    QCOMPARE(linesBesideSchedule(settingsFile()), before);
}

void TestScheduleCommand::refusedSchedules_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QList<ScanTask::ItemType>>("items");
    QTest::addColumn<QByteArrayList>("paths");
    QTest::addColumn<QString>("line");

    const QList<ScanTask::ItemType> none;
    QTest::newRow("unknown type")
        << "weekly" << none << QByteArrayList()
        << "Unknown schedule type \"weekly\": use express, full or custom";
    QTest::newRow("express with a path")
        << "express" << none << QByteArrayList{"/srv"}
        << "Only a custom schedule takes --include options and paths";
    QTest::newRow("full with an item")
        << "full" << QList<ScanTask::ItemType>{ScanTask::User} << QByteArrayList()
        << "Only a custom schedule takes --include options and paths";
    QTest::newRow("custom without targets")
        << "custom" << none << QByteArrayList()
        << "A custom schedule needs an --include option or a path";
    QTest::newRow("not UTF-8")
        << "custom" << none << QByteArrayList{"/srv", "/srv/caf\xe9"}
        << QString::fromUtf8("Cannot schedule \"/srv/caf\xef\xbf\xbd\": the name is not valid "
                             "UTF-8, and the schedule keeps names as text");
}

void TestScheduleCommand::refusedSchedules()
{
    QFETCH(QString, type);
    QFETCH(QList<ScanTask::ItemType>, items);
    QFETCH(QByteArrayList, paths);
    QFETCH(QString, line);

    const Output set = run([&](QTextStream& out, QTextStream& err) {
        return m_command.set(type, items, paths, out, err);
    });
    QCOMPARE(set.status, 2);
    QCOMPARE(set.err, line + '\n');
    QCOMPARE(set.out, QString());
    QVERIFY(!QSettings(settingsFile(), QSettings::IniFormat).contains("Scan/ScheduleScanType"));
}

void TestScheduleCommand::unreadableSettings_data()
{
    QTest::addColumn<bool>("isSet");
    QTest::newRow("show") << false;
    QTest::newRow("set") << true;
}

void TestScheduleCommand::unreadableSettings()
{
    QFETCH(bool, isSet);

    // A directory in the file's place cannot be read, whoever runs the test.
    QFile::remove(settingsFile());
    QVERIFY(QDir().mkdir(settingsFile()));
    const Output output = run([&](QTextStream& out, QTextStream& err) {
        return isSet ? m_command.set("full", {}, {}, out, err) : m_command.show(out, err);
    });
    QCOMPARE(output.status, 2);
    QCOMPARE(output.err,
             QStringLiteral("Cannot read the settings file \"%1\"\n").arg(settingsFile()));
    QCOMPARE(output.out, QString());
}

void TestScheduleCommand::nextElapseFromListing_data()
{
    QTest::addColumn<QString>("listing");
    QTest::addColumn<QString>("next");

    QTest::newRow("active") << "NEXT                        LEFT     LAST                        "
                               "PASSED  UNIT                       ACTIVATES\n"
                               "Sat 2026-12-12 02:00:00 UTC 11h left Fri 2026-12-11 02:00:04 UTC "
                               "12h ago norvo-scheduled-scan.timer norvo-scheduled-scan.service\n"
                               "\n1 timers listed.\n"
                            << kNextRun;
    QTest::newRow("inactive") << "NEXT LEFT LAST PASSED UNIT                       ACTIVATES\n"
                                 "-    -    -    -      norvo-scheduled-scan.timer "
                                 "norvo-scheduled-scan.service\n\n1 timers listed.\n"
                              << QString();
    QTest::newRow("inactive, older manager")
        << "NEXT LEFT LAST PASSED UNIT                       ACTIVATES\n"
           "n/a  n/a  n/a  n/a    norvo-scheduled-scan.timer norvo-scheduled-scan.service\n"
        << QString();
    QTest::newRow("no such timer") << "NEXT LEFT LAST PASSED UNIT ACTIVATES\n\n0 timers listed.\n"
                                   << QString();
    QTest::newRow("another timer")
        << "NEXT                        LEFT     LAST PASSED UNIT       "
           "ACTIVATES\n"
           "Sat 2026-12-12 02:00:00 UTC 11h left -    -      other.timer "
           "other.service\n"
        << QString();
    QTest::newRow("no output") << QString() << QString();
}

void TestScheduleCommand::nextElapseFromListing()
{
    QFETCH(QString, listing);
    QFETCH(QString, next);
    QCOMPARE(SystemdTimer::nextElapseFromListing(listing), next);
}

QTEST_GUILESS_MAIN(TestScheduleCommand)
#include "tst_schedulecommand.moc"
