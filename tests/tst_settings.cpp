#include "Settings.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QPoint>
#include <QSize>
#include <QTemporaryDir>
#include <QTest>
#include <QTime>

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void defaults_data();
    void defaults();
    void keyPath();
    void setValueLogsPath();
    void mapValuesRoundTrip();
    void resetKeepsCentralServerData();

private:
    QTemporaryDir m_config;
};

void TestSettings::initTestCase()
{
    // Must precede the store's first use: QSettings resolves its file once.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    QCoreApplication::setOrganizationName(QStringLiteral("norvo"));
    QCoreApplication::setApplicationName(QStringLiteral("norvo-gui"));
}

void TestSettings::init()
{
    Settings::instance().reset();
}

void TestSettings::defaults_data()
{
    QTest::addColumn<Settings::Section>("section");
    QTest::addColumn<Settings::Key>("key");
    QTest::addColumn<QVariant>("expected");

    const QVariant none;
    const QVariant emptyText = QString();
    QTest::newRow("General/Sound") << Settings::General << Settings::Sound << QVariant(true);
    QTest::newRow("General/PopUp") << Settings::General << Settings::PopUp << QVariant(true);
    QTest::newRow("General/Size") << Settings::General << Settings::Size
                                  << QVariant(QSize(400, 350));
    QTest::newRow("General/Pos") << Settings::General << Settings::Pos << QVariant(QPoint(0, 0));
    QTest::newRow("General/IsMinSize")
        << Settings::General << Settings::IsMinSize << QVariant(true);
    QTest::newRow("General/FileDialogHistory")
        << Settings::General << Settings::FileDialogHistory << none;
    QTest::newRow("Scan/PersistentPaths")
        << Settings::Scan << Settings::PersistentPaths << emptyText;
    QTest::newRow("Scan/CustomPaths") << Settings::Scan << Settings::CustomPaths << emptyText;
    QTest::newRow("Scan/ExcludedPaths") << Settings::Scan << Settings::ExcludedPaths
                                        << QVariant(QStringList{QStringLiteral("/proc")});
    QTest::newRow("Scan/SchedulePersistentPaths")
        << Settings::Scan << Settings::SchedulePersistentPaths << emptyText;
    QTest::newRow("Scan/ScheduleCustomPaths")
        << Settings::Scan << Settings::ScheduleCustomPaths << emptyText;
    QTest::newRow("Scan/HasSchedule") << Settings::Scan << Settings::HasSchedule << QVariant(false);
    QTest::newRow("Scan/ScheduleTime")
        << Settings::Scan << Settings::ScheduleTime << QVariant(QTime(2, 0));
    QTest::newRow("Scan/ScheduleDays")
        << Settings::Scan << Settings::ScheduleDays << QVariant(QVariantList{7});
    QTest::newRow("Scan/ScheduleScanType")
        << Settings::Scan << Settings::ScheduleScanType << QVariant(QStringLiteral("ExpressScan"));
    QTest::newRow("Scan/ScheduleWeek")
        << Settings::Scan << Settings::ScheduleWeek << QVariant(QStringLiteral("1"));
    QTest::newRow("Scan/Sound") << Settings::Scan << Settings::Sound << none;
    QTest::newRow("ES/ProxyUsed") << Settings::ES << Settings::ProxyUsed << QVariant(false);
    QTest::newRow("ES/Host") << Settings::ES << Settings::Host << emptyText;
    QTest::newRow("ES/Port") << Settings::ES << Settings::Port << QVariant(2193);
    QTest::newRow("ES/Name") << Settings::ES << Settings::Name << emptyText;
    QTest::newRow("ES/Password") << Settings::ES << Settings::Password << emptyText;
    QTest::newRow("ES/PublicKeyPath") << Settings::ES << Settings::PublicKeyPath << emptyText;
    QTest::newRow("Proxy/Host") << Settings::Proxy << Settings::Host << none;
    QTest::newRow("Proxy/Port") << Settings::Proxy << Settings::Port << none;
}

void TestSettings::defaults()
{
    QFETCH(Settings::Section, section);
    QFETCH(Settings::Key, key);
    QFETCH(QVariant, expected);

    const QVariant stored = Settings::instance().value(key, section);
    QCOMPARE(stored.isValid(), expected.isValid());
    QCOMPARE(stored.metaType(), expected.metaType());
    QCOMPARE(stored, expected);
    QCOMPARE(Settings::instance().defaultValue(section, key), expected);
}

void TestSettings::keyPath()
{
    QCOMPARE(Settings::instance().keyPath(Settings::Scan, Settings::ScheduleScanType),
             QStringLiteral("Scan/ScheduleScanType"));
    QCOMPARE(Settings::instance().keyPath(Settings::ES, Settings::PublicKeyPath),
             QStringLiteral("ES/PublicKeyPath"));
}

void TestSettings::setValueLogsPath()
{
    LogCapture log;
    Settings::instance().setValue(QTime(23, 30), Settings::ScheduleTime, Settings::Scan);
    QCOMPARE(log.lines(),
             QStringList{QStringLiteral("Set local settings :  \"Scan/ScheduleTime\"")});
    QCOMPARE(Settings::instance().value(Settings::ScheduleTime, Settings::Scan),
             QVariant(QTime(23, 30)));
}

void TestSettings::mapValuesRoundTrip()
{
    const QVariantMap selection{{QStringLiteral("MBR"), true}, {QStringLiteral("User"), false}};
    Settings::instance().setValue(selection, Settings::SchedulePersistentPaths, Settings::Scan);
    // A second store on the same file sees what the first wrote, as the runner sees what the
    // front-end wrote.
    QSettings file;
    file.sync();
    QCOMPARE(file.value(QStringLiteral("Scan/SchedulePersistentPaths")).toMap(), selection);
    QCOMPARE(Settings::instance().value(Settings::SchedulePersistentPaths, Settings::Scan).toMap(),
             selection);
    QVERIFY(Settings::instance()
                .value(Settings::ScheduleCustomPaths, Settings::Scan)
                .toMap()
                .isEmpty());
}

void TestSettings::resetKeepsCentralServerData()
{
    Settings& settings = Settings::instance();
    settings.setValue(false, Settings::Sound, Settings::General);
    settings.setValue(QStringLiteral("FullScan"), Settings::ScheduleScanType, Settings::Scan);
    settings.setValue(QStringLiteral("proxy.example"), Settings::Host, Settings::Proxy);
    settings.setValue(QStringLiteral("es.example"), Settings::Host, Settings::ES);

    settings.reset();

    QCOMPARE(settings.value(Settings::Sound, Settings::General), QVariant(true));
    QCOMPARE(settings.value(Settings::ScheduleScanType, Settings::Scan),
             QVariant(QStringLiteral("ExpressScan")));
    QVERIFY(!settings.value(Settings::Host, Settings::Proxy).isValid());
    QCOMPARE(settings.value(Settings::Host, Settings::ES), QVariant(QStringLiteral("es.example")));
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
