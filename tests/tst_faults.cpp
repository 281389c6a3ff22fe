// The real runner against daemons that fail it: broken, oversized or trickled frames, a daemon
// killed in the middle of the scan, socket paths that name no usable socket. Whatever happens,
// the run ends by itself within its bounded waits, with status 0, and its last lines say why.

#include "DaemonScripts.h"
#include "IPCLink.h"
#include "StandIn.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Replies = QList<ScriptedPeer::Reply>;

const int kBytePauseMs = 1;

QByteArray lengthWord(quint32 length)
{
    return QByteArray(reinterpret_cast<const char*>(&length), sizeof length);
}

// Answers every request that expects an answer with the same bytes.
ScriptedPeer::Responder answerEach(const QByteArray& bytes, bool close)
{
    return [bytes, close](const QByteArray& body) -> Replies {
        if (parsed<nv::Public2ConfigdMessage>(body).tag() ==
            nv::Public2ConfigdMessage::MY_INFO_NOTIFICATION) {
            return {};
        }
        return {{bytes, close}};
    };
}

// The same daemon, writing every reply one byte at a time.
ScriptedPeer::Responder trickled(const ScriptedPeer::Responder& responder)
{
    return [responder](const QByteArray& body) {
        Replies replies = responder(body);
        for (ScriptedPeer::Reply& reply : replies) {
            reply.bytePauseMs = kBytePauseMs;
        }
        return replies;
    };
}

enum class PathKind { Missing, RegularFile, Directory, SocketWithoutPermission, TooLong, NotUtf8 };

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void brokenConfigd_data();
    void brokenConfigd();
    void brokenFilecheck_data();
    void brokenFilecheck();
    void trickledDaemons();
    void filecheckKilledDuringScan();
    void unusableConfigdPath_data();
    void unusableConfigdPath();
    void nonAsciiSocketPaths();

private:
    QString path(const QString& name) const { return m_dir->filePath(name); }
    // A run of a custom scan against the configuration daemon at `configdSocket`, which must
    // end by itself with status 0.
    RunnerProcess::Result run(const QByteArray& configdSocket);
    ConfigdScript script(const QString& fcPath) const;

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestFaults::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

RunnerProcess::Result TestFaults::run(const QByteArray& configdSocket)
{
    RunnerProcess runner(m_dir->path());
    runner.writeSchedule({}, {{"/srv", true}});
    runner.start(configdSocket);
    const RunnerProcess::Result result = runner.finish();
    [&] { QVERIFY2(result.endedInOrder(), qPrintable(result.log())); }();
    return result;
}

ConfigdScript TestFaults::script(const QString& fcPath) const
{
    ConfigdScript script;
    script.fcPath = fcPath;
    return script;
}

void TestFaults::brokenConfigd_data()
{
    QTest::addColumn<QByteArray>("reply"); // to every request that expects one
    QTest::addColumn<bool>("close");       // after the first reply
    QTest::addColumn<QStringList>("lastLines");

    const QByteArray config = frameOf(configdReply(nv::Configd2PublicMessage::CONFIG_NOTIFICATION));
    const QStringList dropped{
        "Frame of 1936287860 bytes exceeds the limit of 67108864 bytes, connection dropped",
        "Error =  QLocalSocket::DatagramTooLargeError", "ConfigD problem"};
    QTest::newRow("closes in the middle of a frame")
        << config.left(config.size() / 2) << true
        << QStringList{"Error =  QLocalSocket::PeerClosedError", "ConfigD problem"};
    // Each answer a garbled frame, then an answer naming no socket: the garbage is dropped, and
    // only the answer ends the wait for the socket path.
    QTest::newRow("garbage in a frame")
        << frameOf(QByteArray("\xff\xfe not a message")) +
               frameOf(configdReply(nv::Configd2PublicMessage::GET_FCHECK_RESPONSE))
        << false
        << QStringList{"ConfigD -> malformed message of 16 bytes dropped",
                       "Scheduled scan not started: ConfigD named no norvo-filecheck socket"};
    QTest::newRow("garbage instead of frames")
        << QByteArray("this is not a frame at all") << false << dropped;
    QTest::newRow("length over the frame bound")
        << lengthWord(IPCLink::kMaxFrameBytes + 1) + "x" << false
        << QStringList{"Frame of 67108865 bytes exceeds the limit of 67108864 bytes, connection "
                       "dropped",
                       "Error =  QLocalSocket::DatagramTooLargeError", "ConfigD problem"};
}

void TestFaults::brokenConfigd()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, close);
    QFETCH(QStringList, lastLines);

    ScriptedPeer configd(path("configd"), answerEach(reply, close));
    const auto result = run(QFile::encodeName(configd.path()));
    QVERIFY2(result.lastLines(lastLines.size()) == lastLines, qPrintable(result.log()));
}

// What the file-check daemon does wrong once the scan is requested; the run ends with the line
// that says what happened, never as a refusal it did not get.
void TestFaults::brokenFilecheck_data()
{
    QTest::addColumn<FcScript>("fcScript");
    QTest::addColumn<QStringList>("lastLines");

    QTest::newRow("length over the frame bound")
        << FcScript::OversizedFrame
        << QStringList{"Frame of 2147483647 bytes exceeds the limit of 67108864 bytes, connection "
                       "dropped",
                       QStringLiteral("Filecheck socket error: %1")
                           .arg(int(QLocalSocket::DatagramTooLargeError)),
                       "Scheduled scan ended: connection to norvo-filecheck lost"};
}

void TestFaults::brokenFilecheck()
{
    QFETCH(FcScript, fcScript);
    QFETCH(QStringList, lastLines);

    ScriptedPeer configd(path("configd"), configdResponder(script(path("fc"))));
    ScriptedPeer filecheck(path("fc"), fcResponder(fcScript));
    const auto result = run(QFile::encodeName(configd.path()));
    QVERIFY2(result.lastLines(lastLines.size()) == lastLines, qPrintable(result.log()));
}

// A reply split over many reads is still one reply: the run must not go on as if it had none.
void TestFaults::trickledDaemons()
{
    ScriptedPeer configd(path("configd"), trickled(configdResponder(script(path("fc")))));
    ScriptedPeer filecheck(path("fc"), trickled(fcResponder(FcScript::RunsScan)));
    const auto result = run(QFile::encodeName(configd.path()));
    QCOMPARE(result.lines.last(), kScriptSummary);
}

void TestFaults::filecheckKilledDuringScan()
{
    const QString targets = path("targets");
    QVERIFY(QDir().mkpath(targets));
    for (int i = 0; i < 20; ++i) {
        QFile file(QDir(targets).filePath(QString::number(i)));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    ScriptedPeer configd(path("configd"), configdResponder(script(path("fc"))));
    StandIn filecheck(QStringLiteral(NORVO_FILECHECK_SIM), path("fc"), {"--scan-delay-ms", "200"});

    RunnerProcess runner(m_dir->path());
    runner.writeSchedule({}, {{targets, true}});
    runner.start(QFile::encodeName(configd.path()));
    QVERIFY(runner.waitForLine("Scan progress: task 1 running"));
    filecheck.kill();
    const auto result = runner.finish();
    QVERIFY2(result.endedInOrder(), qPrintable(result.log()));
    QCOMPARE(result.lastLines(2),
             (QStringList{"Filecheck socket error: 1",
                          "Scheduled scan ended: connection to norvo-filecheck lost"}));
}

void TestFaults::unusableConfigdPath_data()
{
    QTest::addColumn<PathKind>("kind");
    QTest::addColumn<QStringList>("lines");

    const QString problem = QStringLiteral("ConfigD connection problem");
    // %1: the path, in the line that says in words what the socket said.
    const auto failed = [&problem](const char* error, const char* said) {
        return QStringList{QStringLiteral("Error =  QLocalSocket::%1").arg(error),
                           QStringLiteral("Cannot connect to ConfigD at \"%1\": ") + said, problem};
    };
    const char* refused = "connection refused, nothing listens there";
    QTest::newRow("nothing listens at the path")
        << PathKind::Missing << failed("ServerNotFoundError", "no such socket");
    QTest::newRow("regular file") << PathKind::RegularFile
                                  << failed("ConnectionRefusedError", refused);
    QTest::newRow("directory") << PathKind::Directory << failed("ConnectionRefusedError", refused);
    QTest::newRow("socket without permission")
        << PathKind::SocketWithoutPermission << failed("SocketAccessError", "permission denied");
    QTest::newRow("longer than a socket address holds")
        << PathKind::TooLong << failed("ServerNotFoundError", "no such socket");
    QTest::newRow("not UTF-8") << PathKind::NotUtf8 << QStringList{problem};
}

void TestFaults::unusableConfigdPath()
{
    QFETCH(PathKind, kind);
    QFETCH(QStringList, lines);

    QByteArray socketPath = QFile::encodeName(path("configd"));
    std::unique_ptr<ScriptedPeer> configd;
    switch (kind) {
    case PathKind::Missing:
        break;
    case PathKind::RegularFile: {
        QFile file(path("configd"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        break;
    }
    case PathKind::Directory:
        QVERIFY(QDir().mkpath(path("configd")));
        break;
    case PathKind::SocketWithoutPermission:
        if (geteuid() == 0) {
            QSKIP("permission bits do not bind the superuser, whom this test runs as");
        }
        configd =
            std::make_unique<ScriptedPeer>(path("configd"), configdResponder(script(path("fc"))));
        QCOMPARE(::chmod(socketPath.constData(), 0), 0);
        break;
    case PathKind::TooLong:
        socketPath = QFile::encodeName(path(QString(120, 'a')));
        break;
    case PathKind::NotUtf8:
        socketPath = QFile::encodeName(m_dir->path()) + "/\xff\xfe-configd";
        lines.prepend(QStringLiteral("NRV_PUBLIC_SOCKET is not a valid file name: "
                                     "\"%1/\\xFF\\xFE-configd\"")
                          .arg(m_dir->path()));
        break;
    }
    for (QString& line : lines) {
        line.replace(QLatin1String("%1"), QFile::decodeName(socketPath));
    }
    const auto result = run(socketPath);
    QCOMPARE(result.lines, lines);
}

void TestFaults::nonAsciiSocketPaths()
{
    ScriptedPeer configd(path("démon-configd"), configdResponder(script(path("démon-fc"))));
    ScriptedPeer filecheck(path("démon-fc"), fcResponder(FcScript::RunsScan));
    const auto result = run(QFile::encodeName(configd.path()));
    QCOMPARE(result.lines.last(), kScriptSummary);
}

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
