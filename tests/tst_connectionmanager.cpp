// The run sequence in-process, where its 30-second waits can be shortened and its default socket
// named: peers that go quiet at each step of the start-up, a stop in the middle of a wait, and a
// file-check daemon that is gone as soon as it has accepted.

#include "ConnectionManager.h"
#include "DaemonScripts.h"
#include "Inventory.h"
#include "ScriptedPeer.h"
#include "SignalWatcher.h"
#include "TestSupport.h"
#include "configd_public_ipc.pb.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <thread>
#include <unistd.h>

namespace {

const int kShortWaitMs = 100;

using Replies = QList<ScriptedPeer::Reply>;

// Answers the requests up to `answered` (counted from the first) and then stays silent.
ScriptedPeer::Responder answerFirst(int answered, const QString& fcPath)
{
    auto count = std::make_shared<int>(0);
    const ScriptedPeer::Responder answers = configdResponder({nv::LinuxGUIConfig(), fcPath});
    return [answered, answers, count](const QByteArray& body) -> Replies {
        if (parsed<nv::Public2ConfigdMessage>(body).tag() ==
                nv::Public2ConfigdMessage::MY_INFO_NOTIFICATION ||
            ++*count > answered) {
            return {};
        }
        return answers(body);
    };
}

QList<nv::Public2ConfigdMessage::MessageTag> tags(const QList<QByteArray>& bodies)
{
    QList<nv::Public2ConfigdMessage::MessageTag> out;
    for (const QByteArray& body : bodies) {
        out << parsed<nv::Public2ConfigdMessage>(body).tag();
    }
    return out;
}

// Says when it was given the report, as a sink with something to report would.
class LoggingSink : public RunSink
{
public:
    explicit LoggingSink(QString name) : m_name(std::move(name)) {}
    void deliver(const RunReport& report) override
    {
        qWarning().noquote() << m_name << "got" << RunReport::outcomeName(report.outcome)
                             << report.reason;
    }

private:
    QString m_name;
};

} // namespace

class TestConnectionManager : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void silentStep_data();
    void silentStep();
    void configdSocket_data();
    void configdSocket();
    void stopDuringStartUp();
    void filecheckGoneAfterAccepting();
    void sinksBeforeTheClosingLine();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestConnectionManager::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    Inventory::instance()->setFcSocketPath(QString());
}

void TestConnectionManager::silentStep_data()
{
    QTest::addColumn<int>("answered");
    QTest::addColumn<QStringList>("lines");

    const QString connected = QStringLiteral("ConfigD is connected");
    const QString config = QStringLiteral("\"ConfigD -> APP_CONFIG_NOTIFICATION\"");
    QTest::newRow("first subscription unanswered")
        << 0 << QStringList{connected, "ConfigD problem"};
    QTest::newRow("second subscription unanswered")
        << 1
        << QStringList{connected, config,
                       "Scheduled scan not started: ConfigD did not answer the second "
                       "configuration subscription"};
    QTest::newRow("file-check path unanswered")
        << 2
        << QStringList{connected, config, config,
                       "Scheduled scan not started: ConfigD did not answer the request for the "
                       "norvo-filecheck socket"};
}

void TestConnectionManager::silentStep()
{
    QFETCH(int, answered);
    QFETCH(QStringList, lines);

    ScriptedPeer configd(m_dir->filePath("configd"), answerFirst(answered, m_dir->filePath("fc")));
    qputenv("NRV_PUBLIC_SOCKET", QFile::encodeName(configd.path()));

    LogCapture log;
    ConnectionManager manager;
    manager.setWaitMs(kShortWaitMs);
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!manager.initialize());
    QVERIFY(timer.elapsed() < 5000);
    QVERIFY(manager.hasEnded());
    QCOMPARE(log.lines(), lines);
}

void TestConnectionManager::configdSocket_data()
{
    QTest::addColumn<bool>("set");
    QTest::addColumn<QByteArray>("variable");
    QTest::addColumn<bool>("reachesDefault");

    QTest::newRow("variable unset: the default path") << false << QByteArray() << true;
    QTest::newRow("variable empty: the default path") << true << QByteArray() << true;
    QTest::newRow("variable set: its path") << true << QByteArray("elsewhere") << false;
}

void TestConnectionManager::configdSocket()
{
    QFETCH(bool, set);
    QFETCH(QByteArray, variable);
    QFETCH(bool, reachesDefault);

    ScriptedPeer atDefault(m_dir->filePath("default"), answerFirst(1, QString()));
    ScriptedPeer elsewhere(m_dir->filePath("elsewhere"), answerFirst(1, QString()));
    if (set) {
        qputenv("NRV_PUBLIC_SOCKET",
                variable.isEmpty() ? variable : QFile::encodeName(m_dir->filePath(variable)));
    } else {
        qunsetenv("NRV_PUBLIC_SOCKET");
    }
    ConnectionManager manager;
    manager.setWaitMs(kShortWaitMs);
    manager.setDefaultConfigdSocket(atDefault.path());
    QVERIFY(manager.connectToConfigd());
    QCOMPARE(atDefault.connections(), reachesDefault ? 1 : 0);
    QCOMPARE(elsewhere.connections(), reachesDefault ? 0 : 1);
}

// A stop signal ends the wait it arrives in, long before the wait's own bound, and nothing more
// is sent to either daemon.
void TestConnectionManager::stopDuringStartUp()
{
    ScriptedPeer configd(m_dir->filePath("configd"), answerFirst(2, m_dir->filePath("fc")));
    qputenv("NRV_PUBLIC_SOCKET", QFile::encodeName(configd.path()));

    SignalWatcher stopSignals({SIGTERM});
    LogCapture log;
    ConnectionManager manager;
    manager.watchStopSignals(&stopSignals);
    QElapsedTimer timer;
    timer.start();
    // The configuration daemon leaves the request for the file-check socket unanswered, so the
    // run waits there, with the program's own 30-second bound.
    std::thread stopper([] {
        QThread::msleep(300);
        ::kill(::getpid(), SIGTERM);
    });
    const bool started = manager.initialize() && manager.scan();
    stopper.join();
    QVERIFY(!started);
    QVERIFY2(timer.elapsed() < 1300, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(log.lines().last(),
             QStringLiteral("Scheduled scan stopped by SIGTERM before the scan was requested"));
    QCOMPARE(tags(configd.received()), (QList<nv::Public2ConfigdMessage::MessageTag>{
                                           nv::Public2ConfigdMessage::SUBSCRIBE_TO_CONFIG,
                                           nv::Public2ConfigdMessage::SUBSCRIBE_TO_CONFIG,
                                           nv::Public2ConfigdMessage::MY_INFO_NOTIFICATION,
                                           nv::Public2ConfigdMessage::GET_FCHECK_REQUEST}));
}

// Whether the run notices while it writes its requests or only once it reads, it ends once, with
// the lost-connection line, and without waiting for the configuration daemon.
void TestConnectionManager::filecheckGoneAfterAccepting()
{
    ScriptedPeer configd(m_dir->filePath("configd"),
                         configdResponder({nv::LinuxGUIConfig(), m_dir->filePath("fc")}));
    ScriptedPeer filecheck(m_dir->filePath("fc"), [](const QByteArray&) -> Replies {
        return {{QByteArray(), true}};
    });
    qputenv("NRV_PUBLIC_SOCKET", QFile::encodeName(configd.path()));

    LogCapture log;
    ConnectionManager manager;
    manager.setWaitMs(kShortWaitMs);
    QSignalSpy finished(&manager, &ConnectionManager::finished);
    if (manager.initialize() && manager.scan()) {
        QVERIFY(finished.wait(5000));
    }
    QCOMPARE(finished.size(), 1);
    const QString lost = QStringLiteral("Scheduled scan ended: connection to norvo-filecheck lost");
    QCOMPARE(log.lines().last(), lost);
    QCOMPARE(log.lines().count(lost), 1);
}

void TestConnectionManager::sinksBeforeTheClosingLine()
{
    qputenv("NRV_PUBLIC_SOCKET", QFile::encodeName(m_dir->filePath("nobody")));
    LoggingSink file(QStringLiteral("file"));
    LoggingSink desktop(QStringLiteral("desktop"));
    LogCapture log;
    ConnectionManager manager;
    manager.addSink(&file);
    manager.addSink(&desktop);
    QSignalSpy finished(&manager, &ConnectionManager::finished);

    QVERIFY(!manager.initialize());

    QCOMPARE(finished.size(), 1);
    const QString closing = QStringLiteral("ConfigD connection problem");
    QCOMPARE(log.lines().mid(log.lines().size() - 3),
             (QStringList{"file got not-started " + closing, "desktop got not-started " + closing,
                          closing}));
}

QTEST_GUILESS_MAIN(TestConnectionManager)
#include "tst_connectionmanager.moc"
