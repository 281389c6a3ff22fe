#include "BatteryWait.h"
#include "PrivateBus.h"
#include "TestSupport.h"
#include "UPowerStandIn.h"

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <memory>

namespace {
// Never reached in a test: a wait that ends went on for another reason.
constexpr qint64 kLongBoundMs = 60 * 1000;
// Long enough for a loaded machine's bus round trip, short enough to keep the tests quick.
constexpr qint64 kShortBoundMs = 300;
constexpr int kShortAskMs = 300;
constexpr int kSignalWaitMs = 5000;

const QString kWaitingLong =
    QStringLiteral("Running on battery: the scan waits for mains power, at most 1min");
const QString kWaitingShort =
    QStringLiteral("Running on battery: the scan waits for mains power, at most 300ms");

enum class Server { None, Answers, Silent };
} // namespace
Q_DECLARE_METATYPE(Server)

class TestBatteryWait : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void startsAtOnce_data();
    void startsAtOnce();
    void mainsPowerEndsWait();
    void boundEndsWait_data();
    void boundEndsWait();
    void noBatteryInformation_data();
    void noBatteryInformation();
    void cancelEndsWaitSilently_data();
    void cancelEndsWaitSilently();

private:
    QDBusConnection bus() const
    {
        return QDBusConnection::connectToBus(m_bus->address(), QStringLiteral("test"));
    }
    std::unique_ptr<PrivateBus> m_bus;
};

void TestBatteryWait::initTestCase()
{
    m_bus = std::make_unique<PrivateBus>();
    if (!m_bus->isRunning()) {
        QSKIP(qPrintable("dbus-daemon cannot start: " + m_bus->error()));
    }
}

void TestBatteryWait::startsAtOnce_data()
{
    QTest::addColumn<bool>("onBattery");
    QTest::addColumn<qint64>("boundMs");

    QTest::newRow("on mains power") << false << kLongBoundMs;
    QTest::newRow("on battery, waiting off") << true << qint64(0);
}

void TestBatteryWait::startsAtOnce()
{
    QFETCH(bool, onBattery);
    QFETCH(qint64, boundMs);
    UPowerStandIn upower(m_bus->address(), onBattery);
    QVERIFY2(upower.isReady(), qPrintable(upower.error()));

    LogCapture log;
    BatteryWait wait(bus(), boundMs);
    QSignalSpy finished(&wait, &BatteryWait::finished);
    wait.start();
    QVERIFY(finished.count() == 1 || finished.wait(kSignalWaitMs));
    QCOMPARE(log.lines(), QStringList());
}

void TestBatteryWait::mainsPowerEndsWait()
{
    UPowerStandIn upower(m_bus->address(), true);
    QVERIFY2(upower.isReady(), qPrintable(upower.error()));

    LogCapture log;
    BatteryWait wait(bus(), kLongBoundMs);
    QSignalSpy finished(&wait, &BatteryWait::finished);
    wait.start();
    QTRY_COMPARE(log.lines(QtInfoMsg), QStringList{kWaitingLong});
    QCOMPARE(finished.count(), 0);

    upower.setOnBattery(false);
    QVERIFY(finished.wait(kSignalWaitMs));
    QCOMPARE(log.lines(), (QStringList{kWaitingLong, "On mains power again, the scan starts"}));
}

void TestBatteryWait::boundEndsWait_data()
{
    QTest::addColumn<QByteArray>("change");

    QTest::newRow("no change") << QByteArray();
    // A change signal without OnBattery says nothing of the power supply.
    QTest::newRow("another property changes") << QByteArray("other");
    QTest::newRow("on battery again") << QByteArray("battery");
}

void TestBatteryWait::boundEndsWait()
{
    QFETCH(QByteArray, change);
    UPowerStandIn upower(m_bus->address(), true);
    QVERIFY2(upower.isReady(), qPrintable(upower.error()));

    LogCapture log;
    QElapsedTimer elapsed;
    elapsed.start();
    BatteryWait wait(bus(), kShortBoundMs);
    QSignalSpy finished(&wait, &BatteryWait::finished);
    wait.start();
    QTRY_COMPARE(log.lines(QtInfoMsg), QStringList{kWaitingShort});
    if (change == "other") {
        upower.changeOtherProperty();
    } else if (change == "battery") {
        upower.setOnBattery(true);
    }
    QVERIFY(finished.wait(kSignalWaitMs));
    QVERIFY2(elapsed.elapsed() >= kShortBoundMs, qPrintable(QString::number(elapsed.elapsed())));
    QCOMPARE(log.lines(),
             (QStringList{kWaitingShort, "Still on battery after 300ms, the scan starts anyway"}));
}

void TestBatteryWait::noBatteryInformation_data()
{
    QTest::addColumn<Server>("server");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("line");

    QTest::newRow("no UPower") << Server::None << QString()
                               << "No battery information (org.freedesktop.DBus.Error."
                                  "ServiceUnknown: The name org.freedesktop.UPower was not "
                                  "provided by any .service files), the scan starts at once";
    QTest::newRow("UPower does not answer")
        << Server::Silent << QString()
        << "No battery information (org.freedesktop.DBus.Error.NoReply: Did not receive a reply. "
           "Possible causes include: the remote application did not send a reply, the message "
           "bus security policy blocked the reply, the reply timeout expired, or the network "
           "connection was broken.), the scan starts at once";
    QTest::newRow("no system bus")
        << Server::None << "unix:path=/nonexistent/bus"
        << "No battery information (no system bus: Failed to connect to socket /nonexistent/bus: "
           "No such file or directory), the scan starts at once";
}

void TestBatteryWait::noBatteryInformation()
{
    QFETCH(Server, server);
    QFETCH(QString, address);
    QFETCH(QString, line);
    std::unique_ptr<UPowerStandIn> upower;
    if (server != Server::None) {
        upower =
            std::make_unique<UPowerStandIn>(m_bus->address(), true, UPowerStandIn::Answer::Never);
        QVERIFY2(upower->isReady(), qPrintable(upower->error()));
    }
    const QDBusConnection connection =
        address.isEmpty() ? bus() : QDBusConnection::connectToBus(address, QStringLiteral("nobus"));

    LogCapture log;
    QElapsedTimer elapsed;
    elapsed.start();
    BatteryWait wait(connection, kLongBoundMs, kShortAskMs);
    QSignalSpy finished(&wait, &BatteryWait::finished);
    wait.start();
    QVERIFY(finished.count() == 1 || finished.wait(kSignalWaitMs));
    QVERIFY2(elapsed.elapsed() < 2 * kShortAskMs, qPrintable(QString::number(elapsed.elapsed())));
    QCOMPARE(log.lines(QtDebugMsg), QStringList{line});
    QCOMPARE(log.lines().size(), 1);
}

void TestBatteryWait::cancelEndsWaitSilently_data()
{
    QTest::addColumn<Server>("server");
    QTest::addColumn<QStringList>("linesBeforeCancel");

    QTest::newRow("while asking") << Server::Silent << QStringList();
    QTest::newRow("while waiting") << Server::Answers << QStringList{kWaitingShort};
}

void TestBatteryWait::cancelEndsWaitSilently()
{
    QFETCH(Server, server);
    QFETCH(QStringList, linesBeforeCancel);
    UPowerStandIn upower(m_bus->address(), true,
                         server == Server::Silent ? UPowerStandIn::Answer::Never
                                                  : UPowerStandIn::Answer::Value);
    QVERIFY2(upower.isReady(), qPrintable(upower.error()));

    LogCapture log;
    BatteryWait wait(bus(), kShortBoundMs, kShortAskMs);
    QSignalSpy finished(&wait, &BatteryWait::finished);
    wait.start();
    QTRY_COMPARE(log.lines(), linesBeforeCancel);
    wait.cancel();
    upower.setOnBattery(false);
    // Past the bounds of asking and of waiting: neither may still act.
    QTest::qWait(int(2 * kShortBoundMs));
    QCOMPARE(finished.count(), 0);
    QCOMPARE(log.lines(), linesBeforeCancel);
}

QTEST_GUILESS_MAIN(TestBatteryWait)
#include "tst_batterywait.moc"
