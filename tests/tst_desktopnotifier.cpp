#include "DesktopNotifier.h"
#include "EscapedName.h"
#include "NotificationStandIn.h"
#include "PrivateBus.h"
#include "TestSupport.h"

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QTest>
#include <memory>

using Outcome = RunReport::Outcome;
using Preferences = DesktopNotifier::Preferences;
Q_DECLARE_METATYPE(RunReport)
Q_DECLARE_METATYPE(DesktopNotifier::Preferences)
Q_DECLARE_METATYPE(NotificationStandIn::Answer)

namespace {
constexpr Preferences kUnconfigured{};
constexpr Preferences kSoundOn{true, true, true};
constexpr Preferences kSoundOff{true, true, false};
constexpr Preferences kHidden{true, false, true};
// The front-end's own switches: "show pop-ups" and "play sounds" off.
constexpr Preferences kNoPopUps{true, true, true, false, true};
constexpr Preferences kFrontEndSilent{true, true, true, true, false};
constexpr Preferences kUnconfiguredSilent{false, true, false, true, false};
// Long enough for a loaded machine's bus round trip, short enough to keep the tests quick.
constexpr int kShortWaitMs = 300;

RunReport reportOf(Outcome outcome, int threats = 0)
{
    RunReport report;
    report.outcome = outcome;
    report.filesScanned = 5400;
    report.threatsFound = quint64(threats);
    for (int i = 1; i <= threats; ++i) {
        report.threats << RunReport::Threat{"/home/u/f" + QByteArray::number(i) + ".com",
                                            {QStringLiteral("EICAR-Test-File")},
                                            QStringLiteral("reported"),
                                            QStringLiteral("Success")};
    }
    return report;
}

QJsonObject callOf(const QString& icon, const QString& summary, const QString& body,
                   const QJsonObject& hints, const QJsonObject& signatures, int expire = -1)
{
    return {{"app_name", "norvo-scheduled-scan"},
            {"replaces_id", 0},
            {"app_icon", icon},
            {"summary", summary},
            {"body", body},
            {"actions", QJsonArray()},
            {"hints", hints},
            {"hintSignatures", signatures},
            {"expire_timeout", expire}};
}

const QJsonObject kNormal{{"urgency", 1}};
const QJsonObject kByte{{"urgency", "y"}};
} // namespace

class TestDesktopNotifier : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void notificationPerOutcome_data();
    void notificationPerOutcome();
    void noNotification_data();
    void noNotification();
    void plainTextServerGetsFileNamesUnescaped();
    void busFailureIsOneDebugLine_data();
    void busFailureIsOneDebugLine();
    void noSessionBusIsOneDebugLine();

private:
    std::unique_ptr<PrivateBus> m_bus;
};

void TestDesktopNotifier::initTestCase()
{
    m_bus = std::make_unique<PrivateBus>();
    if (!m_bus->isRunning()) {
        QSKIP(qPrintable("dbus-daemon cannot start: " + m_bus->error()));
    }
}

void TestDesktopNotifier::notificationPerOutcome_data()
{
    QTest::addColumn<RunReport>("report");
    QTest::addColumn<Preferences>("preferences");
    QTest::addColumn<QJsonObject>("expected");

    QTest::newRow("threats, sound on")
        << reportOf(Outcome::Finished, 2) << kSoundOn
        << callOf("dialog-warning", "Scheduled scan: 2 threats found",
                  "/home/u/f1.com: EICAR-Test-File, reported (Success)\n"
                  "/home/u/f2.com: EICAR-Test-File, reported (Success)",
                  {{"urgency", 2}, {"sound-name", "dialog-warning"}},
                  {{"urgency", "y"}, {"sound-name", "s"}}, 0);

    RunReport many = reportOf(Outcome::Finished, 6);
    many.threats[0].file = "/home/u/<b>&.com";
    many.threats[0].names << QStringLiteral("Other");
    many.threatsFound = 8;
    QTest::newRow("more than five, markup, sound off")
        << many << kSoundOff
        << callOf("dialog-warning", "Scheduled scan: 8 threats found",
                  "/home/u/&lt;b&gt;&amp;.com: EICAR-Test-File, Other, reported (Success)\n"
                  "/home/u/f2.com: EICAR-Test-File, reported (Success)\n"
                  "/home/u/f3.com: EICAR-Test-File, reported (Success)\n"
                  "/home/u/f4.com: EICAR-Test-File, reported (Success)\n"
                  "/home/u/f5.com: EICAR-Test-File, reported (Success)\n"
                  "and 3 more",
                  {{"urgency", 2}, {"suppress-sound", true}},
                  {{"urgency", "y"}, {"suppress-sound", "b"}}, 0);

    QTest::newRow("threats, the front-end's sounds off")
        << reportOf(Outcome::Finished, 1) << kFrontEndSilent
        << callOf("dialog-warning", "Scheduled scan: 1 threat found",
                  "/home/u/f1.com: EICAR-Test-File, reported (Success)",
                  {{"urgency", 2}, {"suppress-sound", true}},
                  {{"urgency", "y"}, {"suppress-sound", "b"}}, 0);
    QTest::newRow("failure, the front-end's sounds off before the configuration")
        << reportOf(Outcome::NotStarted) << kUnconfiguredSilent
        << callOf("dialog-error", "Scheduled scan could not start",
                  "The Norvo anti-virus service is not running or did not answer.",
                  {{"urgency", 1}, {"suppress-sound", true}},
                  {{"urgency", "y"}, {"suppress-sound", "b"}});

    // A name is one line of the body, however it was made, and no line is unbounded.
    RunReport odd = reportOf(Outcome::Finished, 2);
    odd.threats[0].setFile("/tmp/x\nScheduled scan: no threats found\x1b[0m\xff");
    odd.threats[1].setFile(QByteArray(kMaxNameBytes + 10, 'a'));
    QTest::newRow("odd and long names")
        << odd << kSoundOff
        << callOf("dialog-warning", "Scheduled scan: 2 threats found",
                  "/tmp/x\\nScheduled scan: no threats found\\x1b[0m\\xff: EICAR-Test-File, "
                  "reported (Success)\n" +
                      QString(DesktopNotifier::kMaxLineChars - 3, 'a') + "...",
                  {{"urgency", 2}, {"suppress-sound", true}},
                  {{"urgency", "y"}, {"suppress-sound", "b"}}, 0);

    // Until the configuration arrives the sound is the desktop's choice.
    QTest::newRow("one threat, before the configuration")
        << reportOf(Outcome::Finished, 1) << kUnconfigured
        << callOf("dialog-warning", "Scheduled scan: 1 threat found",
                  "/home/u/f1.com: EICAR-Test-File, reported (Success)", {{"urgency", 2}}, kByte,
                  0);
    QTest::newRow("threats, then the connection lost")
        << reportOf(Outcome::ConnectionLost, 1) << kSoundOn
        << callOf("dialog-warning", "Scheduled scan: 1 threat found",
                  "/home/u/f1.com: EICAR-Test-File, reported (Success)\n"
                  "The connection to the Norvo anti-virus service was lost.",
                  {{"urgency", 2}, {"sound-name", "dialog-warning"}},
                  {{"urgency", "y"}, {"sound-name", "s"}}, 0);
    QTest::newRow("clean") << reportOf(Outcome::Finished) << kSoundOn
                           << callOf("dialog-information", "Scheduled scan: no threats found",
                                     "5400 files scanned.", {{"urgency", 0}, {"transient", true}},
                                     {{"urgency", "y"}, {"transient", "b"}});
    QTest::newRow("not started")
        << reportOf(Outcome::NotStarted) << kUnconfigured
        << callOf("dialog-error", "Scheduled scan could not start",
                  "The Norvo anti-virus service is not running or did not answer.", kNormal, kByte);
    RunReport unusable = reportOf(Outcome::NotStarted);
    unusable.scheduleUnusable = true;
    QTest::newRow("not started, the schedule unusable")
        << unusable << kUnconfigured
        << callOf("dialog-error", "Scheduled scan could not start",
                  "The scan schedule in your settings cannot be used; the log of the run tells "
                  "why.",
                  kNormal, kByte);
    QTest::newRow("refused") << reportOf(Outcome::Refused) << kSoundOn
                             << callOf("dialog-error", "Scheduled scan could not start",
                                       "The Norvo anti-virus service refused to start the scan.",
                                       kNormal, kByte);
    QTest::newRow("forbidden") << reportOf(Outcome::Forbidden) << kSoundOn
                               << callOf("dialog-error", "Scheduled scan could not start",
                                         "Scans are not allowed by your central protection server.",
                                         kNormal, kByte);
    QTest::newRow("connection lost")
        << reportOf(Outcome::ConnectionLost) << kSoundOff
        << callOf("dialog-error", "Scheduled scan did not finish",
                  "The connection to the Norvo anti-virus service was lost.",
                  {{"urgency", 1}, {"suppress-sound", true}},
                  {{"urgency", "y"}, {"suppress-sound", "b"}});
}

void TestDesktopNotifier::notificationPerOutcome()
{
    QFETCH(RunReport, report);
    QFETCH(Preferences, preferences);
    QFETCH(QJsonObject, expected);
    NotificationStandIn server(m_bus->address());
    QVERIFY2(server.isReady(), qPrintable(server.error()));

    LogCapture log;
    DesktopNotifier(QDBusConnection::connectToBus(m_bus->address(), QStringLiteral("test")))
        .notify(report, preferences);
    QCOMPARE(server.calls(), QList<QJsonObject>{expected});
    QCOMPARE(log.lines(), QStringList());
}

void TestDesktopNotifier::noNotification_data()
{
    QTest::addColumn<RunReport>("report");
    QTest::addColumn<Preferences>("preferences");

    QTest::newRow("stopped") << reportOf(Outcome::Stopped, 1) << kSoundOn;
    QTest::newRow("notifications off, threats") << reportOf(Outcome::Finished, 1) << kHidden;
    QTest::newRow("notifications off, not started") << reportOf(Outcome::NotStarted) << kHidden;
    QTest::newRow("the front-end's pop-ups off, threats")
        << reportOf(Outcome::Finished, 1) << kNoPopUps;
    QTest::newRow("the front-end's pop-ups off, not started")
        << reportOf(Outcome::NotStarted) << kNoPopUps;
}

void TestDesktopNotifier::noNotification()
{
    QFETCH(RunReport, report);
    QFETCH(Preferences, preferences);
    NotificationStandIn server(m_bus->address());
    QVERIFY2(server.isReady(), qPrintable(server.error()));

    LogCapture log;
    DesktopNotifier(QDBusConnection::connectToBus(m_bus->address(), QStringLiteral("test")))
        .notify(report, preferences);
    QCOMPARE(server.calls(), QList<QJsonObject>());
    QCOMPARE(log.lines(), QStringList());
}

void TestDesktopNotifier::plainTextServerGetsFileNamesUnescaped()
{
    NotificationStandIn server(m_bus->address(), NotificationStandIn::Answer::Id, false);
    QVERIFY2(server.isReady(), qPrintable(server.error()));
    RunReport report = reportOf(Outcome::Finished, 1);
    report.threats[0].file = "/home/u/<b>&.com";

    DesktopNotifier(QDBusConnection::connectToBus(m_bus->address(), QStringLiteral("test")))
        .notify(report, kSoundOn);
    QCOMPARE(server.calls().value(0).value("body"),
             QJsonValue("/home/u/<b>&.com: EICAR-Test-File, reported (Success)"));
}

void TestDesktopNotifier::busFailureIsOneDebugLine_data()
{
    QTest::addColumn<bool>("serve");
    QTest::addColumn<NotificationStandIn::Answer>("answer");
    QTest::addColumn<QString>("line");

    QTest::newRow("no notification service")
        << false << NotificationStandIn::Answer::Id
        << "Desktop notification not shown: org.freedesktop.DBus.Error.ServiceUnknown: The name "
           "org.freedesktop.Notifications was not provided by any .service files";
    QTest::newRow("error answer") << true << NotificationStandIn::Answer::Error
                                  << "Desktop notification not shown: "
                                     "org.freedesktop.DBus.Error.Failed: The stand-in refuses "
                                     "notifications";
    QTest::newRow("never answers")
        << true << NotificationStandIn::Answer::Never
        << "Desktop notification not shown: org.freedesktop.DBus.Error.NoReply: Did not receive "
           "a reply. Possible causes include: the remote application did not send a reply, the "
           "message bus security policy blocked the reply, the reply timeout expired, or the "
           "network connection was broken.";
}

void TestDesktopNotifier::busFailureIsOneDebugLine()
{
    QFETCH(bool, serve);
    QFETCH(NotificationStandIn::Answer, answer);
    QFETCH(QString, line);
    std::unique_ptr<NotificationStandIn> server;
    if (serve) {
        server = std::make_unique<NotificationStandIn>(m_bus->address(), answer);
        QVERIFY2(server->isReady(), qPrintable(server->error()));
    }

    LogCapture log;
    QElapsedTimer elapsed;
    elapsed.start();
    DesktopNotifier(QDBusConnection::connectToBus(m_bus->address(), QStringLiteral("test")),
                    kShortWaitMs)
        .notify(reportOf(Outcome::Finished, 1), kSoundOn);
    QVERIFY2(elapsed.elapsed() < 2 * kShortWaitMs, qPrintable(QString::number(elapsed.elapsed())));
    QCOMPARE(log.lines(), QStringList{line});
}

void TestDesktopNotifier::noSessionBusIsOneDebugLine()
{
    const QDBusConnection noBus = QDBusConnection::connectToBus(
        QStringLiteral("unix:path=/nonexistent/bus"), QStringLiteral("nobus"));
    LogCapture log;
    DesktopNotifier(noBus).notify(reportOf(Outcome::Finished), kSoundOn);
    QCOMPARE(log.lines(), QStringList{"Desktop notification not shown: no session bus: "
                                      "Failed to connect to socket /nonexistent/bus: No such "
                                      "file or directory"});
}

QTEST_GUILESS_MAIN(TestDesktopNotifier)
#include "tst_desktopnotifier.moc"
