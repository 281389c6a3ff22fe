#include "DaemonConnector.h"
#include "TestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTest>
#include <fcntl.h>
#include <optional>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

class TestDaemonConnector : public QObject
{
    Q_OBJECT

private slots:
    void connect_data();
    void connect();
    void stopEndsTheWaitAtOnce();
    void untrustedPeerIsCutOff();
};

namespace {

// A daemon that starts listening later, as after a boot. Connections wait in its backlog:
// connecting needs no accept.
class LateListener
{
public:
    LateListener(const QString& path, int afterMs)
    {
        m_thread = std::thread([this, path, afterMs] {
            std::this_thread::sleep_for(std::chrono::milliseconds(afterMs));
            m_fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            qstrncpy(address.sun_path, QFile::encodeName(path).constData(),
                     sizeof(address.sun_path));
            ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
            ::listen(m_fd, 4);
        });
    }
    ~LateListener()
    {
        m_thread.join();
        ::close(m_fd);
    }

private:
    std::thread m_thread;
    int m_fd = -1;
};

constexpr int kNoDaemon = -1;

} // namespace

void TestDaemonConnector::connect_data()
{
    QTest::addColumn<int>("listensAfterMs");
    QTest::addColumn<int>("daemonWaitMs");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QStringList>("lines");

    const QString waits = QStringLiteral(
        "ConfigD is not listening at \"<path>\" yet, the run waits up to %1 s for it");
    QTest::newRow("listening") << 0 << 0 << true << QStringList();
    QTest::newRow("nothing listens, no daemon wait") << kNoDaemon << 0 << false << QStringList();
    QTest::newRow("listens within the wait")
        << 300 << 5000 << true
        << QStringList{waits.arg(5), QStringLiteral("ConfigD is listening now, the run goes on")};
    QTest::newRow("does not appear within the wait")
        << kNoDaemon << 1200 << false
        << QStringList{waits.arg(2), QStringLiteral("ConfigD did not appear within 2 s")};
}

void TestDaemonConnector::connect()
{
    QFETCH(int, listensAfterMs);
    QFETCH(int, daemonWaitMs);
    QFETCH(bool, connected);
    QFETCH(QStringList, lines);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("public.sock"));
    QLocalServer listening;
    std::optional<LateListener> late;
    if (listensAfterMs == 0) {
        QVERIFY(listening.listen(path));
    } else if (listensAfterMs > 0) {
        late.emplace(path, listensAfterMs);
    }
    DaemonConnector connector;
    connector.setWaitMs(200);
    connector.setDaemonWait(daemonWaitMs);
    QLocalSocket socket;
    QSignalSpy errors(&socket, &QLocalSocket::errorOccurred);
    LogCapture log;

    const DaemonConnector::Result result =
        connector.connect(socket, path, QStringLiteral("ConfigD"));

    QCOMPARE(result == DaemonConnector::Result::Connected, connected);
    QCOMPARE(socket.state() == QLocalSocket::ConnectedState, connected);
    QStringList expected;
    for (const QString& line : lines) {
        expected << QString(line).replace(QLatin1String("<path>"), path);
    }
    QCOMPARE(log.lines(QtInfoMsg), expected);
    // The socket's error reaches its receivers once, after the last attempt, and then in words.
    QCOMPARE(errors.count(), connected ? 0 : 1);
    QCOMPARE(log.lines(QtWarningMsg),
             connected ? QStringList()
                       : QStringList{QStringLiteral("Cannot connect to ConfigD at \"%1\": no such "
                                                    "socket")
                                         .arg(path)});
}

void TestDaemonConnector::stopEndsTheWaitAtOnce()
{
    QTemporaryDir dir;
    int wake[2];
    QVERIFY(::pipe(wake) == 0);
    bool stopSignalled = false;
    DaemonConnector connector([&] {
        char byte;
        stopSignalled = stopSignalled || ::read(wake[0], &byte, 1) == 1;
        return stopSignalled;
    });
    ::fcntl(wake[0], F_SETFL, O_NONBLOCK);
    connector.setWakeDescriptor(wake[0]);
    connector.setDaemonWait(30000);
    std::thread signal([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        QCOMPARE(::write(wake[1], "x", 1), ssize_t(1));
    });
    QLocalSocket socket;
    LogCapture log;
    QElapsedTimer elapsed;
    elapsed.start();

    const auto result = connector.connect(socket, dir.filePath(QStringLiteral("none.sock")),
                                          QStringLiteral("ConfigD"));
    signal.join();

    QVERIFY(result == DaemonConnector::Result::NotConnected);
    QVERIFY2(elapsed.elapsed() < 900, qPrintable(QString::number(elapsed.elapsed())));
    // A stopped wait has nothing to report: the stop writes the run's line.
    QCOMPARE(log.lines(QtInfoMsg).size(), 1);
    ::close(wake[0]);
    ::close(wake[1]);
}

void TestDaemonConnector::untrustedPeerIsCutOff()
{
    SocketPair pair;
    const PeerGuard stranger([](const QLocalSocket&) { return PeerCredentials{4242, 99}; }, 1000);
    DaemonConnector connector([] { return false; }, stranger);
    QLocalSocket socket;
    LogCapture log;

    const auto result = connector.connect(socket, pair.path(), QStringLiteral("norvo-filecheck"));

    QVERIFY(result == DaemonConnector::Result::Untrusted);
    QCOMPARE(socket.state(), QLocalSocket::UnconnectedState);
    QCOMPARE(log.lines(QtWarningMsg),
             QStringList{QStringLiteral("Refusing the peer at \"%1\": uid 4242, pid 99 is neither "
                                        "root nor this user")
                             .arg(pair.path())});
}

QTEST_GUILESS_MAIN(TestDaemonConnector)
#include "tst_daemonconnector.moc"
