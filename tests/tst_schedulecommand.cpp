#include "FcIPCLink.h"
#include "ScanSchedule.h"
#include "ScheduleCommand.h"
#include "Settings.h"
#include "SystemdTimer.h"
#include "TestSupport.h"
#include "fcheck_client_ipc.pb.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <sys/stat.h>

namespace {

const QString kNoManager =
    QStringLiteral("No user service manager answers: the timer takes the schedule when the manager "
                   "next starts\n");

// The line --show-schedule writes where no manager answers: the schedule's own next slot.
QString nextRunLine(const ScanSchedule& schedule)
{
    QString line = QStringLiteral("Next run: not known: no user service manager answers");
    if (schedule.isOn()) {
        line += QStringLiteral("; the schedule's next slot is ") +
                QLocale::c().toString(schedule.nextRun(QDateTime::currentDateTime()),
                                      QStringLiteral("ddd yyyy-MM-dd HH:mm:ss t"));
    }
    return line + '\n';
}

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
    void daysAndTime_data();
    void daysAndTime();
    void offKeepsDaysAndTime();

private:
    QTemporaryDir m_config;
    QTemporaryDir m_work;
    // Tests never reach the machine's own session bus: this one is not connected.
    const SystemdTimer m_timer{QDBusConnection(QString()), 0};
    const ScheduleCommand m_command{m_timer,
                                    TimerDropIn(m_config.filePath("timer.d/override.conf"))};
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
    QFile::remove(settingsFile());
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
        return m_command.set(type, items, paths, QString(), QString(), out, err);
    });
    QCOMPARE(set.err, warnings);
    QCOMPARE(set.status, 0);

    QString expected = QStringLiteral("Scan type: %1\n").arg(storedType);
    for (const QString& target : targets) {
        expected += QStringLiteral("Target: %1\n").arg(target);
    }
    expected += QStringLiteral("PATH: %1\nBoot records: %2\nRunning processes: %3\n"
                               "Settings file: %4\nRuns: Sundays at 02:00\n")
                    .arg(qEnvironmentVariable("PATH"), boot ? "yes" : "no",
                         processes ? "yes" : "no", settingsFile());
    expected += nextRunLine(ScanSchedule::weekly({7}, QTime(2, 0)));
    const Output show =
        run([&](QTextStream& out, QTextStream& err) { return m_command.show(out, err); });
    QCOMPARE(show.status, 0);
    QCOMPARE(show.out, expected);
    QCOMPARE(set.out, kNoManager + expected);

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
        return m_command.set("custom", {ScanTask::User}, {"/srv"}, QString(), QString(), out, err);
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
        << "Unknown schedule type \"weekly\": use express, full, custom or off";
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
        return m_command.set(type, items, paths, QString(), QString(), out, err);
    });
    QCOMPARE(set.status, 2);
    QCOMPARE(set.err, line + '\n');
    QCOMPARE(set.out, QString());
    QVERIFY(!QSettings(settingsFile(), QSettings::IniFormat).contains("Scan/ScheduleScanType"));
}

void TestScheduleCommand::unreadableSettings_data()
{
    QTest::addColumn<bool>("isSet");
    QTest::addColumn<bool>("fifo");
    QTest::newRow("show, a directory") << false << false;
    QTest::newRow("set, a directory") << true << false;
    // A FIFO is no settings file either, and is never opened as one.
    QTest::newRow("show, a FIFO") << false << true;
    QTest::newRow("set, a FIFO") << true << true;
}

void TestScheduleCommand::unreadableSettings()
{
    QFETCH(bool, isSet);
    QFETCH(bool, fifo);

    // Neither can be used as a settings file, whoever runs the test.
    QFile::remove(settingsFile());
    if (fifo) {
        QCOMPARE(::mkfifo(QFile::encodeName(settingsFile()).constData(), 0600), 0);
    } else {
        QVERIFY(QDir().mkdir(settingsFile()));
    }
    const Output output = run([&](QTextStream& out, QTextStream& err) {
        return isSet ? m_command.set("full", {}, {}, QString(), QString(), out, err)
                     : m_command.show(out, err);
    });
    QCOMPARE(output.status, 2);
    QCOMPARE(output.err,
             QStringLiteral("The settings file \"%1\" %2\n")
                 .arg(settingsFile(), fifo ? "is not a regular file" : "is a directory"));
    QCOMPARE(output.out, QString());
}

void TestScheduleCommand::daysAndTime_data()
{
    QTest::addColumn<QString>("at");
    QTest::addColumn<QString>("days");
    QTest::addColumn<QByteArrayList>("lines"); // of the file, as the front-end writes them
    QTest::addColumn<QString>("runs");

    const QByteArray time0730 = R"(ScheduleTime=@Variant(\0\0\0\xf\x1\x9b\xfc\xc0))";
    QTest::newRow("time and two days") << "07:30"
                                       << "wed,mon" << QByteArrayList{"ScheduleDays=1, 3", time0730}
                                       << "Mondays and Wednesdays at 07:30";
    QTest::newRow("one day, names in capitals")
        << "7:30"
        << "Fri" << QByteArrayList{R"(ScheduleDays=@Variant(\0\0\0\t\0\0\0\x1\0\0\0\x2\0\0\0\x5))"}
        << "Fridays at 07:30";
    QTest::newRow("daily") << "23:05"
                           << "daily" << QByteArrayList{"ScheduleDays=1, 2, 3, 4, 5, 6, 7"}
                           << "every day at 23:05";
    QTest::newRow("weekdays, stored time kept")
        << QString() << "weekdays" << QByteArrayList{"ScheduleDays=1, 2, 3, 4, 5"}
        << "Mondays, Tuesdays, Wednesdays, Thursdays and Fridays at 02:00";
    QTest::newRow("time only, stored day kept")
        << "00:00" << QString() << QByteArrayList{R"(ScheduleTime=@Variant(\0\0\0\xf\0\0\0\0))"}
        << "Sundays at 00:00";
}

void TestScheduleCommand::daysAndTime()
{
    QFETCH(QString, at);
    QFETCH(QString, days);
    QFETCH(QByteArrayList, lines);
    QFETCH(QString, runs);

    const Output set = run([&](QTextStream& out, QTextStream& err) {
        return m_command.set("express", {}, {}, at, days, out, err);
    });
    QCOMPARE(set.err, QString());
    QCOMPARE(set.status, 0);
    QVERIFY2(set.out.contains("\nRuns: " + runs + '\n'), qPrintable(set.out));
    QFile file(settingsFile());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArrayList fileLines = file.readAll().split('\n');
    QVERIFY(fileLines.contains("HasSchedule=true"));
    for (const QByteArray& line : lines) {
        QVERIFY2(fileLines.contains(line), line.constData());
    }
}

void TestScheduleCommand::offKeepsDaysAndTime()
{
    const auto set = [this](const QString& type, const QString& at, const QString& days) {
        return run([&](QTextStream& out, QTextStream& err) {
            return m_command.set(type, {}, {}, at, days, out, err);
        });
    };
    QCOMPARE(set("full", "07:30", "mon,wed").status, 0);
    const Output off = set("off", QString(), QString());
    QCOMPARE(off.err, QString());
    QCOMPARE(off.status, 0);
    QVERIFY2(
        off.out.endsWith("Runs: never: the schedule is off\n" + nextRunLine(ScanSchedule::off())),
        qPrintable(off.out));
    QCOMPARE(stored("Scan/HasSchedule").toBool(), false);
    QCOMPARE(stored("Scan/ScheduleTime").toTime(), QTime(7, 30));
    QCOMPARE(stored("Scan/ScheduleDays").toStringList(), QStringList({"1", "3"}));
    QCOMPARE(stored("Scan/ScheduleScanType").toString(), "FullScan");

    // Switched on again, the days and time are back.
    QVERIFY(set("full", QString(), QString())
                .out.contains("\nRuns: Mondays and Wednesdays at 07:30\n"));

    for (const auto& [type, at, days, line] :
         {std::tuple{"off", "07:30", "",
                     "An off schedule takes no --at, --days, --include options or paths"},
          std::tuple{"express", "7.30", "",
                     "--at takes a time of day as HH:MM, such as 07:30, not \"7.30\""},
          std::tuple{"express", "24:00", "",
                     "--at takes a time of day as HH:MM, such as 07:30, not \"24:00\""},
          std::tuple{"express", "", "mon,,wed",
                     "Unknown day \"\" in --days: use mon, tue, wed, thu, fri, sat and sun, daily "
                     "or weekdays"},
          std::tuple{"express", "", "monday",
                     "Unknown day \"monday\" in --days: use mon, tue, wed, thu, fri, sat and sun, "
                     "daily or weekdays"}}) {
        const Output refused = set(type, *at ? at : QString(), *days ? days : QString());
        QCOMPARE(refused.status, 2);
        QCOMPARE(refused.err, QString::fromLatin1(line) + '\n');
        QCOMPARE(refused.out, QString());
    }
    QCOMPARE(stored("Scan/HasSchedule").toBool(), true);
}

QTEST_GUILESS_MAIN(TestScheduleCommand)
#include "tst_schedulecommand.moc"
