#include "ScanSchedule.h"
#include "Settings.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <ctime>

namespace {

// The [Scan] group as the Qt 4 front-end writes it; 07:30 is 27000000 ms after midnight.
const QByteArray kTime0730 = R"(ScheduleTime=@Variant(\0\0\0\xf\x1\x9b\xfc\xc0))";

void useTimeZone(const QByteArray& zone)
{
    qputenv("TZ", zone);
    tzset();
}

} // namespace

class TestScanSchedule : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void storedForms_data();
    void storedForms();
    void calendarEventAndDescription_data();
    void calendarEventAndDescription();
    void agreesWithSystemdAcrossClockChanges_data();
    void agreesWithSystemdAcrossClockChanges();

private:
    void writeSettingsFile(const QByteArray& scanGroup);

    QTemporaryDir m_config;
    int m_writes = 0;
};

void TestScanSchedule::initTestCase()
{
    // Must precede the store's first use: QSettings resolves its file once.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    QCoreApplication::setOrganizationName(QStringLiteral("norvo"));
    QCoreApplication::setApplicationName(QStringLiteral("norvo-gui"));
    QVERIFY(QDir(m_config.path()).mkpath("norvo"));
}

void TestScanSchedule::cleanupTestCase()
{
    qunsetenv("TZ");
    tzset();
}

// Replaces the file behind the store's back, as the front-end does, and has the store read it
// again. Each write gets a time stamp of its own, so that the store sees the change even when
// two files have the same size.
void TestScanSchedule::writeSettingsFile(const QByteArray& scanGroup)
{
    QFile file(Settings::instance().fileName());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("[General]\nPos=@Point(10 20)\n\n[Scan]\n" + scanGroup + "\n");
    file.close();
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(++m_writes),
                             QFileDevice::FileModificationTime));
    file.close();
    QCOMPARE(Settings::instance().sync(), QSettings::NoError);
}

void TestScanSchedule::storedForms_data()
{
    QTest::addColumn<QByteArray>("scanGroup");
    QTest::addColumn<QList<int>>("days"); // empty: off
    QTest::addColumn<QTime>("time");
    QTest::addColumn<QStringList>("warnings");

    const QByteArray on = "HasSchedule=true\n";
    const QTime two(2, 0);
    const QTime half7(7, 30);
    QTest::newRow("nothing stored: off")
        << QByteArray() << QList<int>() << QTime() << QStringList();
    QTest::newRow("off keeps days and time unread")
        << QByteArray("HasSchedule=false\nScheduleDays=1, 9\nScheduleTime=junk") << QList<int>()
        << QTime() << QStringList();
    QTest::newRow("on with defaults: Sunday 02:00") << on << QList<int>{7} << two << QStringList();
    QTest::newRow("two days as a string list")
        << on + kTime0730 + "\nScheduleDays=1, 3" << QList<int>{1, 3} << half7 << QStringList();
    QTest::newRow("one day as one string")
        << on + kTime0730 + "\nScheduleDays=7" << QList<int>{7} << half7 << QStringList();
    QTest::newRow("one day as an integer list") << on + kTime0730 + R"(
ScheduleDays=@Variant(\0\0\0\t\0\0\0\x1\0\0\0\x2\0\0\0\x5))"
                                                << QList<int>{5} << half7 << QStringList();
    QTest::newRow("unsorted, repeated, spaced")
        << on + "ScheduleDays=5,  2 , 5" << QList<int>{2, 5} << two << QStringList();
    QTest::newRow("quoted list from a hand edit")
        << on + "ScheduleDays=\"6, 7\"" << QList<int>{6, 7} << two << QStringList();
    QTest::newRow("time as text") << on + "ScheduleTime=18:05" << QList<int>{7} << QTime(18, 5)
                                  << QStringList();
    QTest::newRow("seconds kept, milliseconds dropped")
        << on + R"(ScheduleTime=@Variant(\0\0\0\xf\x1\x9c\x1#))" << QList<int>{7} << QTime(7, 30, 1)
        << QStringList();
    QTest::newRow("days out of range are left out")
        << on + "ScheduleDays=0, 3, 8, mon" << QList<int>{3} << two
        << QStringList{
               R"(Ignoring the day "0" in Scan/ScheduleDays: days are 1 (Monday) to 7 (Sunday))",
               R"(Ignoring the day "8" in Scan/ScheduleDays: days are 1 (Monday) to 7 (Sunday))",
               R"(Ignoring the day "mon" in Scan/ScheduleDays: days are 1 (Monday) to 7 (Sunday))"};
    QTest::newRow("no day left: off")
        << on + "ScheduleDays=-1" << QList<int>() << QTime()
        << QStringList{
               R"(Ignoring the day "-1" in Scan/ScheduleDays: days are 1 (Monday) to 7 (Sunday))",
               "No day to run on in Scan/ScheduleDays: no scheduled scan runs"};
    QTest::newRow("empty list: off")
        << on + "ScheduleDays=@Invalid()" << QList<int>() << QTime()
        << QStringList{"No day to run on in Scan/ScheduleDays: no scheduled scan runs"};
    const QString badTime = "Unreadable time in Scan/ScheduleTime: the schedule runs at 02:00";
    QTest::newRow("time of another type")
        << on + "ScheduleTime=@Point(7 30)" << QList<int>{7} << two << QStringList{badTime};
    QTest::newRow("null time") << on + R"(ScheduleTime=@Variant(\0\0\0\xf\xff\xff\xff\xff))"
                               << QList<int>{7} << two << QStringList{badTime};
    QTest::newRow("time text out of range")
        << on + "ScheduleTime=25:00" << QList<int>{7} << two << QStringList{badTime};
}

void TestScanSchedule::storedForms()
{
    QFETCH(QByteArray, scanGroup);
    QFETCH(QList<int>, days);
    QFETCH(QTime, time);
    QFETCH(QStringList, warnings);

    writeSettingsFile(scanGroup);
    const LogCapture log;
    const ScanSchedule schedule = ScanSchedule::read(Settings::instance());
    QCOMPARE(log.lines(QtWarningMsg), warnings);
    QCOMPARE(schedule.isOn(), !days.isEmpty());
    QCOMPARE(schedule.days(), days);
    QCOMPARE(schedule.time(), time);
}

void TestScanSchedule::calendarEventAndDescription_data()
{
    QTest::addColumn<ScanSchedule>("schedule");
    QTest::addColumn<QString>("event");
    QTest::addColumn<QString>("description");

    QTest::newRow("off") << ScanSchedule::off() << QString() << "never: the schedule is off";
    QTest::newRow("Mon, Wed") << ScanSchedule::weekly({3, 1}, QTime(7, 30))
                              << "Mon,Wed *-*-* 07:30:00"
                              << "Mondays and Wednesdays at 07:30";
    QTest::newRow("one day") << ScanSchedule::weekly({7}, QTime(0, 0)) << "Sun *-*-* 00:00:00"
                             << "Sundays at 00:00";
    QTest::newRow("three days, seconds")
        << ScanSchedule::weekly({5, 1, 3}, QTime(23, 59, 30)) << "Mon,Wed,Fri *-*-* 23:59:30"
        << "Mondays, Wednesdays and Fridays at 23:59:30";
    QTest::newRow("every day") << ScanSchedule::weekly({1, 2, 3, 4, 5, 6, 7}, QTime(12, 5))
                               << "*-*-* 12:05:00"
                               << "every day at 12:05";
    QTest::newRow("no valid day") << ScanSchedule::weekly({0, 8}, QTime(1, 0)) << QString()
                                  << "never: the schedule is off";
}

void TestScanSchedule::calendarEventAndDescription()
{
    QFETCH(ScanSchedule, schedule);
    QFETCH(QString, event);
    QFETCH(QString, description);

    QCOMPARE(schedule.calendarEvent(), event);
    QCOMPARE(schedule.description(), description);
}

void TestScanSchedule::agreesWithSystemdAcrossClockChanges_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<ScanSchedule>("schedule");
    QTest::addColumn<int>("count"); // a year of slots

    // 02:30 falls into the hour that spring skips in Europe and America, and comes twice in the
    // autumn night there; 01:30 comes twice in America. Lord Howe Island shifts by half an hour,
    // Sydney has its summer at the turn of the year.
    const QList<int> daily{1, 2, 3, 4, 5, 6, 7};
    QTest::newRow("Berlin, Sundays 02:30")
        << QByteArray("Europe/Berlin") << ScanSchedule::weekly({7}, QTime(2, 30)) << 53;
    QTest::newRow("Berlin, daily 02:30")
        << QByteArray("Europe/Berlin") << ScanSchedule::weekly(daily, QTime(2, 30)) << 366;
    QTest::newRow("New York, daily 01:30")
        << QByteArray("America/New_York") << ScanSchedule::weekly(daily, QTime(1, 30)) << 366;
    QTest::newRow("New York, Sun 02:00")
        << QByteArray("America/New_York") << ScanSchedule::weekly({7}, QTime(2, 0)) << 53;
    QTest::newRow("Sydney, Sat, Sun 02:15")
        << QByteArray("Australia/Sydney") << ScanSchedule::weekly({6, 7}, QTime(2, 15)) << 105;
    QTest::newRow("Lord Howe, daily 02:15")
        << QByteArray("Australia/Lord_Howe") << ScanSchedule::weekly(daily, QTime(2, 15)) << 366;
    QTest::newRow("UTC, Mon, Wed 07:30")
        << QByteArray("UTC") << ScanSchedule::weekly({1, 3}, QTime(7, 30)) << 105;
}

// The next runs that --show-schedule derives must be the ones the timer has.
void TestScanSchedule::agreesWithSystemdAcrossClockChanges()
{
    QFETCH(QByteArray, zone);
    QFETCH(ScanSchedule, schedule);
    QFETCH(int, count);

    const QString analyze = QStandardPaths::findExecutable("systemd-analyze");
    if (analyze.isEmpty()) {
        QSKIP("systemd-analyze is not installed");
    }
    useTimeZone(zone);
    QList<QDateTime> ours;
    QDateTime after = QDateTime::currentDateTime();
    for (int i = 0; i < count; ++i) {
        after = schedule.nextRun(after);
        QVERIFY(after.isValid());
        ours << after.toUTC();
    }

    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TZ", QString::fromLatin1(zone));
    env.insert("LC_ALL", "C");
    process.setProcessEnvironment(env);
    process.start(analyze, {"calendar", QStringLiteral("--iterations=%1").arg(count),
                            schedule.calendarEvent()});
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), 0);
    QList<QDateTime> systemd;
    for (const QByteArray& line : process.readAllStandardOutput().split('\n')) {
        // Without a zone of its own, systemd prints the UTC time once, as the local one.
        const QByteArray marker = zone == "UTC" ? QByteArray(": ") : QByteArray("(in UTC): ");
        const qsizetype at = line.indexOf(marker);
        if (at < 0 || !line.endsWith(" UTC") || line.contains("Normalized")) {
            continue;
        }
        const QString text = QString::fromLatin1(line.mid(at + marker.size()).chopped(4));
        const QDateTime local = QDateTime::fromString(text, "ddd yyyy-MM-dd HH:mm:ss");
        systemd << QDateTime(local.date(), local.time(), Qt::UTC);
    }
    QCOMPARE(systemd.size(), count);
    for (int i = 0; i < count; ++i) {
        QVERIFY2(ours[i] == systemd[i], qPrintable(QStringLiteral("slot %1: ours %2, systemd %3")
                                                       .arg(i)
                                                       .arg(ours[i].toString(Qt::ISODate),
                                                            systemd[i].toString(Qt::ISODate))));
    }
}

QTEST_GUILESS_MAIN(TestScanSchedule)
#include "tst_scanschedule.moc"
