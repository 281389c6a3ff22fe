// The run sequence in-process, where its 30-second waits can be shortened: peers that go quiet
// at each step of the start-up.

#include "ConnectionManager.h"
#include "Inventory.h"
#include "ScriptedPeer.h"
#include "TestSupport.h"
#include "configd_public_ipc.pb.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

namespace {

const int kShortWaitMs = 100;

using Replies = QList<ScriptedPeer::Reply>;

// Answers the requests up to `answered` (counted from the first) and then stays silent.
ScriptedPeer::Responder answerFirst(int answered, const QString& fcPath)
{
    auto count = std::make_shared<int>(0);
    return [answered, fcPath, count](const QByteArray& body) -> Replies {
        nv::Public2ConfigdMessage request;
        request.ParseFromArray(body.constData(), int(body.size()));
        if (request.tag() == nv::Public2ConfigdMessage::MY_INFO_NOTIFICATION ||
            ++*count > answered) {
            return {};
        }
        nv::Configd2PublicMessage reply;
        if (request.tag() == nv::Public2ConfigdMessage::GET_FCHECK_REQUEST) {
            reply.set_tag(nv::Configd2PublicMessage::GET_FCHECK_RESPONSE);
            reply.set_socket_path(fcPath.toStdString());
        } else {
            reply.set_tag(nv::Configd2PublicMessage::CONFIG_NOTIFICATION);
            reply.mutable_config()->set_app(nv::APP_LINUX_GUI);
        }
        return {{frameOf(reply)}};
    };
}

} // namespace

class TestConnectionManager : public QObject
{
    Q_OBJECT

private slots:
    void silentStep_data();
    void silentStep();
};

void TestConnectionManager::silentStep_data()
{
    QTest::addColumn<int>("answered");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("first subscription unanswered")
        << 0 << QStringList{"ConfigD is connected", "ConfigD problem"};
    QTest::newRow("second subscription unanswered")
        << 1 << QStringList{"ConfigD is connected", "\"ConfigD -> APP_CONFIG_NOTIFICATION\""};
    QTest::newRow("file-check path unanswered")
        << 2
        << QStringList{"ConfigD is connected", "\"ConfigD -> APP_CONFIG_NOTIFICATION\"",
                       "\"ConfigD -> APP_CONFIG_NOTIFICATION\""};
}

void TestConnectionManager::silentStep()
{
    QFETCH(int, answered);
    QFETCH(QStringList, lines);

    QTemporaryDir dir;
    ScriptedPeer configd(dir.filePath("configd"), answerFirst(answered, dir.filePath("fc")));
    qputenv("NRV_PUBLIC_SOCKET", QFile::encodeName(configd.path()));

    LogCapture log;
    ConnectionManager manager;
    manager.setWaitMs(kShortWaitMs);
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!manager.initialize());
    QVERIFY(timer.elapsed() < 5000);
    // A timed-out wait also reports itself as a socket error, which the run logs as it comes.
    QStringList logged = log.lines();
    logged.removeAll(QStringLiteral("Error =  QLocalSocket::SocketTimeoutError"));
    QCOMPARE(logged, lines);
}

QTEST_GUILESS_MAIN(TestConnectionManager)
#include "tst_connectionmanager.moc"
