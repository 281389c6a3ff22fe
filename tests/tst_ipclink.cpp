#include "IPCLink.h"
#include "ScriptedPeer.h"
#include "TestSupport.h"
#include "fcheck_client_ipc.pb.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <functional>

namespace {

// Records the bodies the base class cuts out of the stream.
class RecordingLink : public IPCLink
{
public:
    using IPCLink::IPCLink;
    void processMessage(const QByteArray& body) override { bodies << body; }
    void request(int) override {}
    void onError(QLocalSocket::LocalSocketError) override {}

    QList<QByteArray> bodies;
};

// Runs a test's own code on each body it records, as a receiver of the link's signals would.
class HookedLink : public RecordingLink
{
public:
    using RecordingLink::RecordingLink;
    void processMessage(const QByteArray& body) override
    {
        RecordingLink::processMessage(body);
        onBody(body);
    }

    std::function<void(const QByteArray&)> onBody;
};

QByteArray lengthPrefix(quint32 length)
{
    return QByteArray(reinterpret_cast<const char*>(&length), sizeof length);
}

fc::ClientMessage startScanTagOnly()
{
    fc::ClientMessage message;
    message.set_tag(fc::ClientMessage::START_SCAN_REQUEST);
    return message;
}

} // namespace

class TestIPCLink : public QObject
{
    Q_OBJECT

private slots:
    void frameReader_data();
    void frameReader();
    void batchBoundary_data();
    void batchBoundary();
    void receiverEndsConnectionInBatch_data();
    void receiverEndsConnectionInBatch();
    void receiverWaitsForReplyInBatch();
    void sendWritesOneFrame();
    void sendOnUnconnectedSocketWarns();
    void sendAndWaitSilentPeer();
    void sendAndWaitAnsweringPeer();
    void sendAndWaitWholeReply_data();
    void sendAndWaitWholeReply();
    void oversizedFrameDropsConnection();
    void largestAllowedFrameIsAwaited();
};

using Chunks = QList<QByteArray>;
using Counts = QList<int>;

// Each chunk reaches the client before the reader runs once; `delivered` is the number of
// bodies handed on after each run, `left` the bytes still buffered in the socket at the end.
void TestIPCLink::frameReader_data()
{
    QTest::addColumn<Chunks>("chunks");
    QTest::addColumn<Counts>("delivered");
    QTest::addColumn<Chunks>("bodies");
    QTest::addColumn<int>("left");

    const QByteArray a("alpha"), b("bravo!");
    QTest::newRow("two frames in one read")
        << Chunks{frameOf(a) + frameOf(b)} << Counts{2} << Chunks{a, b} << 0;
    QTest::newRow("body over several reads")
        << Chunks{lengthPrefix(5) + "al", "p", "ha"} << Counts{0, 0, 1} << Chunks{a} << 0;
    QTest::newRow("three bytes of a prefix wait for the fourth")
        << Chunks{lengthPrefix(5).left(3), lengthPrefix(5).mid(3) + a} << Counts{0, 1} << Chunks{a}
        << 0;
    QTest::newRow("zero length delivers nothing")
        << Chunks{lengthPrefix(0) + frameOf(b)} << Counts{1} << Chunks{b} << 0;
    QTest::newRow("complete frame then a partial one")
        << Chunks{frameOf(a) + lengthPrefix(6) + "bra"} << Counts{1} << Chunks{a} << 3;
}

void TestIPCLink::frameReader()
{
    QFETCH(Chunks, chunks);
    QFETCH(Counts, delivered);
    QFETCH(Chunks, bodies);
    QFETCH(int, left);

    SocketPair pair;
    RecordingLink link(pair.client(), nullptr);
    for (int i = 0; i < chunks.size(); ++i) {
        pair.peerWrite(chunks[i]);
        link.dataReceived();
        QCOMPARE(link.bodies.size(), delivered[i]);
    }
    QCOMPARE(link.bodies, bodies);
    QCOMPARE(pair.client()->bytesAvailable(), qint64(left));
}

// The whole stream is buffered before the reader runs once, and the reader copies at most
// `batch` bytes out of the socket at a time.
void TestIPCLink::batchBoundary_data()
{
    QTest::addColumn<int>("batch");
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<Chunks>("bodies");
    QTest::addColumn<int>("left");

    const QByteArray a("alpha"), b("bravo!"), c("charlie");
    // frameOf(a) is 9 bytes, frameOf(b) 10.
    QTest::newRow("boundary inside a length word")
        << 11 << frameOf(a) + frameOf(b) + frameOf(c) << Chunks{a, b, c} << 0;
    QTest::newRow("boundary inside a body")
        << 14 << frameOf(a) + frameOf(b) + frameOf(c) << Chunks{a, b, c} << 0;
    QTest::newRow("frame ends at the boundary")
        << 19 << frameOf(a) + frameOf(b) + frameOf(c) << Chunks{a, b, c} << 0;
    QTest::newRow("frame larger than the batch")
        << 8 << frameOf(a) + frameOf(b) + frameOf(c) << Chunks{a, b, c} << 0;
    QTest::newRow("partial frame after a full batch")
        << 19 << frameOf(a) + frameOf(b) + lengthPrefix(7) + "cha" << Chunks{a, b} << 3;
    QTest::newRow("default batch: boundary inside a body")
        << int(IPCLink::kBatchBytes)
        << frameOf(QByteArray(int(IPCLink::kBatchBytes) - 10, 'x')) + frameOf(b)
        << Chunks{QByteArray(int(IPCLink::kBatchBytes) - 10, 'x'), b} << 0;
}

void TestIPCLink::batchBoundary()
{
    QFETCH(int, batch);
    QFETCH(QByteArray, stream);
    QFETCH(Chunks, bodies);
    QFETCH(int, left);

    SocketPair pair;
    RecordingLink link(pair.client(), nullptr);
    link.setBatchBytes(batch);
    pair.peerWrite(stream);
    link.dataReceived();
    QCOMPARE(link.bodies, bodies);
    QCOMPARE(pair.client()->bytesAvailable(), qint64(left));
}

void TestIPCLink::receiverEndsConnectionInBatch_data()
{
    QTest::addColumn<bool>("abort");
    QTest::newRow("abort") << true;
    QTest::newRow("close") << false;
}

// Frames still in the batch's copy are not handled once the connection is gone.
void TestIPCLink::receiverEndsConnectionInBatch()
{
    QFETCH(bool, abort);

    SocketPair pair;
    HookedLink link(pair.client(), nullptr);
    const QByteArray a("alpha"), b("bravo!"), c("charlie");
    link.onBody = [&](const QByteArray& body) {
        if (body == b) {
            abort ? pair.client()->abort() : pair.client()->close();
        }
    };
    pair.peerWrite(frameOf(a) + frameOf(b) + frameOf(c));
    link.dataReceived();
    QCOMPARE(link.bodies, (Chunks{a, b}));
    QCOMPARE(pair.client()->bytesAvailable(), qint64(0));
}

// A receiver that makes a request and waits for its reply runs the reader again while the batch
// holds frames it has not handled: each frame is handled once, in the order of the stream.
void TestIPCLink::receiverWaitsForReplyInBatch()
{
    SocketPair pair;
    HookedLink link(pair.client(), nullptr);
    const QByteArray a("alpha"), b("bravo!"), c("charlie"), reply("reply");
    bool answered = false;
    link.onBody = [&](const QByteArray& body) {
        if (body == a) {
            answered = link.sendAndWait(startScanTagOnly());
        }
    };
    pair.peerWrite(frameOf(a) + frameOf(b) + frameOf(c) + lengthPrefix(5) + "re");
    // Still on its way when the batch is copied: only the receiver's wait brings it in.
    pair.peer()->write("ply");
    pair.peer()->flush();
    link.dataReceived();
    QVERIFY(answered);
    QCOMPARE(link.bodies, (Chunks{a, b, c, reply}));
    QCOMPARE(pair.client()->bytesAvailable(), qint64(0));
}

void TestIPCLink::sendWritesOneFrame()
{
    SocketPair pair;
    RecordingLink link(pair.client(), nullptr);
    link.send(startScanTagOnly());
    QVERIFY(pair.peer()->waitForReadyRead(5000));
    QCOMPARE(pair.peer()->readAll(), QByteArray::fromHex("020000000801"));
}

void TestIPCLink::sendOnUnconnectedSocketWarns()
{
    QLocalSocket unconnected;
    RecordingLink link(&unconnected, nullptr);
    LogCapture log;
    link.send(startScanTagOnly());
    QCOMPARE(log.lines(QtWarningMsg),
             QStringList{QStringLiteral("Connection problem : \"fc.ClientMessage\" did not sent")});
    QCOMPARE(unconnected.bytesToWrite(), qint64(0));
}

void TestIPCLink::sendAndWaitSilentPeer()
{
    SocketPair pair;
    RecordingLink link(pair.client(), nullptr);
    link.setWaitMs(50);
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!link.sendAndWait(startScanTagOnly()));
    QVERIFY(timer.elapsed() < 2000);
    QVERIFY(link.bodies.isEmpty());
    QCOMPARE(IPCLink::kWaitMs, 30000);
}

void TestIPCLink::sendAndWaitAnsweringPeer()
{
    SocketPair pair;
    RecordingLink link(pair.client(), nullptr);
    // The peer's answer is already on its way when the request goes out: the call blocks the
    // only thread there is.
    pair.peer()->write(frameOf(QByteArray("reply")));
    pair.peer()->flush();
    QVERIFY(link.sendAndWait(startScanTagOnly()));
    QCOMPARE(link.bodies, Chunks{QByteArray("reply")});
    QCOMPARE(readFrames(pair.peer(), 1), Chunks{QByteArray::fromHex("0801")});
}

void TestIPCLink::sendAndWaitWholeReply_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("bytePauseMs");
    QTest::addColumn<bool>("answered");

    const QByteArray reply = frameOf(QByteArray("reply"));
    QTest::newRow("reply written byte by byte") << reply << 5 << true;
    QTest::newRow("half a reply, then silence") << reply.left(6) << 0 << false;
}

// The first bytes of a reply answer nothing: the wait goes on, within its bound, until the whole
// frame is there.
void TestIPCLink::sendAndWaitWholeReply()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, bytePauseMs);
    QFETCH(bool, answered);

    QTemporaryDir dir;
    ScriptedPeer peer(dir.filePath("peer"), [&](const QByteArray&) {
        return QList<ScriptedPeer::Reply>{{reply, false, bytePauseMs}};
    });
    QLocalSocket socket;
    socket.connectToServer(peer.path());
    QVERIFY(socket.waitForConnected(5000));
    RecordingLink link(&socket, nullptr);
    link.setWaitMs(1000);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(link.sendAndWait(startScanTagOnly()), answered);
    QCOMPARE(link.bodies, answered ? Chunks{QByteArray("reply")} : Chunks{});
    QVERIFY(timer.elapsed() < 5000);
}

void TestIPCLink::oversizedFrameDropsConnection()
{
    SocketPair pair;
    RecordingLink link(pair.client(), nullptr);
    QSignalSpy errors(pair.client(), &QLocalSocket::errorOccurred);
    LogCapture log;
    pair.peerWrite(lengthPrefix(IPCLink::kMaxFrameBytes + 1) + "x");
    link.dataReceived();
    QCOMPARE(
        log.lines(QtWarningMsg),
        QStringList{QStringLiteral(
            "Frame of 67108865 bytes exceeds the limit of 67108864 bytes, connection dropped")});
    QCOMPARE(pair.client()->state(), QLocalSocket::UnconnectedState);
    QCOMPARE(errors.size(), 1);
    QCOMPARE(errors.first().first().value<QLocalSocket::LocalSocketError>(),
             QLocalSocket::DatagramTooLargeError);
    QVERIFY(link.bodies.isEmpty());
}

void TestIPCLink::largestAllowedFrameIsAwaited()
{
    SocketPair pair;
    RecordingLink link(pair.client(), nullptr);
    LogCapture log;
    pair.peerWrite(lengthPrefix(IPCLink::kMaxFrameBytes) + "x");
    link.dataReceived();
    QVERIFY(log.lines(QtWarningMsg).isEmpty());
    QCOMPARE(pair.client()->state(), QLocalSocket::ConnectedState);
    QCOMPARE(pair.client()->bytesAvailable(), qint64(1));
}

QTEST_GUILESS_MAIN(TestIPCLink)
#include "tst_ipclink.moc"
