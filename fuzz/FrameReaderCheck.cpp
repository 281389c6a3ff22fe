#include "FrameReaderCheck.h"

#include "FuzzRecords.h"
#include "IPCLink.h"
#include "TestSupport.h"

#include <cstring>

namespace {

constexpr qsizetype kPrefixBytes = sizeof(quint32);

class RecordingLink : public IPCLink
{
public:
    using IPCLink::IPCLink;
    void processMessage(const QByteArray& body) override { bodies << body; }
    void request(int) override {}
    void onError(QLocalSocket::LocalSocketError socketError) override { errors << socketError; }

    QList<QByteArray> bodies;
    QList<QLocalSocket::LocalSocketError> errors;
};

// The stream as the frame format reads it, written independently of the link's reader.
struct StreamReading
{
    explicit StreamReading(const QByteArray& stream)
    {
        qsizetype at = 0;
        while (stream.size() - at >= kPrefixBytes) {
            quint32 length = 0;
            memcpy(&length, stream.constData() + at, kPrefixBytes);
            at += kPrefixBytes;
            if (length > IPCLink::kMaxFrameBytes) {
                oversized = true;
                return;
            }
            if (stream.size() - at < qsizetype(length)) {
                break;
            }
            if (length > 0) {
                frames << stream.mid(at, length);
            }
            at += length;
        }
        unread = stream.size() - at;
    }

    QList<QByteArray> frames;
    bool oversized = false;
    // Bytes after the last length taken: a partial prefix or the awaited body.
    qsizetype unread = 0;
};

QString describeFrames(const QList<QByteArray>& delivered, const QList<QByteArray>& expected)
{
    qsizetype first = 0;
    while (first < delivered.size() && first < expected.size() &&
           delivered[first] == expected[first]) {
        ++first;
    }
    return QStringLiteral("delivered %1 frames, the stream holds %2; first difference at %3")
        .arg(delivered.size())
        .arg(expected.size())
        .arg(first);
}

} // namespace

FrameReaderCheck::FrameReaderCheck() = default;
FrameReaderCheck::~FrameReaderCheck() = default;

QByteArray FrameReaderCheck::input(quint8 batchBeyondLength, const QList<QByteArray>& reads)
{
    return char(batchBeyondLength) + FuzzRecords::join(reads);
}

QString FrameReaderCheck::run(const QByteArray& input)
{
    if (!m_pair || m_pair->client()->state() != QLocalSocket::ConnectedState) {
        m_pair = std::make_unique<SocketPair>();
    }
    QLocalSocket* client = m_pair->client();
    client->readAll();
    if (input.isEmpty()) {
        return QString();
    }
    RecordingLink link(client, nullptr);
    link.setBatchBytes(kPrefixBytes + quint8(input[0]));

    const QList<QByteArray> reads = FuzzRecords::split(input.mid(1));
    QByteArray stream;
    for (const QByteArray& read : reads) {
        stream += read;
    }
    for (const QByteArray& read : reads) {
        if (client->state() != QLocalSocket::ConnectedState) {
            break;
        }
        m_pair->peerWrite(read);
        // As the socket's readyRead would, once per read, also for a read that brought nothing.
        link.dataReceived();
    }

    const StreamReading expected(stream);
    if (link.bodies != expected.frames) {
        return describeFrames(link.bodies, expected.frames);
    }
    const bool dropped = link.errors.contains(QLocalSocket::DatagramTooLargeError) &&
                         client->state() == QLocalSocket::UnconnectedState;
    if (dropped != expected.oversized) {
        return expected.oversized ? QStringLiteral("an oversized length did not drop the link")
                                  : QStringLiteral("the link dropped a stream within bounds");
    }
    if (!dropped && client->bytesAvailable() != expected.unread) {
        return QStringLiteral("%1 bytes left unread, the stream leaves %2")
            .arg(client->bytesAvailable())
            .arg(expected.unread);
    }
    return QString();
}
