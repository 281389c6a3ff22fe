#include "IPCLink.h"

#include <QDeadlineTimer>
#include <cerrno>
#include <cstring>
#include <google/protobuf/message.h>
#include <poll.h>
#include <utility>

namespace {
constexpr qint64 kPrefixBytes = sizeof(quint32);
} // namespace

IPCLink::IPCLink(QLocalSocket* socket, QObject* parent)
    : QObject(parent), bodySize(0), socket(socket)
{
    connect(socket, &QLocalSocket::errorOccurred, this, &IPCLink::onError);
    connect(socket, &QLocalSocket::readyRead, this, &IPCLink::dataReceived);
}

IPCLink::~IPCLink() = default;

void IPCLink::dataReceived()
{
    // A handler may run the reader again, through a request that waits for its reply. That run
    // takes arrays of its own, so that it does not overwrite the copy this run cuts frames from.
    Buffers buffers = std::exchange(m_buffers, Buffers());
    while (cutBatch(buffers)) {
    }
    m_buffers = std::move(buffers);
}

// Cuts the complete frames out of a copy of what the socket holds. The socket's own buffer keeps
// what is not taken, a partial frame included. Returns whether the socket may hold more frames.
bool IPCLink::cutBatch(Buffers& buffers)
{
    const qint64 available = socket->bytesAvailable();
    if (available < (bodySize == 0 ? kPrefixBytes : qint64(bodySize))) {
        return false;
    }
    if (bodySize > m_batchBytes) {
        return handleLargeBody();
    }
    buffers.batch.resize(qsizetype(m_batchBytes));
    const qint64 copied = socket->peek(buffers.batch.data(), qMin(available, m_batchBytes));
    const char* const copy = buffers.batch.constData();
    qint64 at = 0;
    qint64 taken = 0;
    for (;;) {
        if (bodySize == 0) {
            if (copied - at < kPrefixBytes) {
                break;
            }
            quint32 length = 0;
            memcpy(&length, copy + at, kPrefixBytes);
            if (length > kMaxFrameBytes) {
                rejectFrame(length);
                return false;
            }
            bodySize = length;
            at += kPrefixBytes;
            continue;
        }
        if (copied - at < qint64(bodySize)) {
            break;
        }
        // The frame leaves the socket before its handler runs: a handler that runs the reader
        // again then finds the stream at the next frame, and the reader waiting for a length.
        buffers.body.resize(qsizetype(bodySize));
        memcpy(buffers.body.data(), copy + at, bodySize);
        at += bodySize;
        take(at - taken);
        taken = at;
        bodySize = 0;
        const quint64 takenBefore = m_bytesTaken;
        processMessage(buffers.body);
        ++m_framesHandled;
        if (!socket->isOpen()) {
            return false;
        }
        if (m_bytesTaken != takenBefore) {
            // The handler's own run took frames that the copy still holds.
            return true;
        }
    }
    // A length read from the copy is taken off the stream, as is a run of empty frames.
    take(at - taken);
    return at > 0;
}

bool IPCLink::handleLargeBody()
{
    QByteArray body(qsizetype(bodySize), Qt::Uninitialized);
    socket->read(body.data(), qint64(bodySize));
    m_bytesTaken += bodySize;
    bodySize = 0;
    processMessage(body);
    ++m_framesHandled;
    return socket->isOpen();
}

void IPCLink::take(qint64 bytes)
{
    if (bytes > 0) {
        socket->skip(bytes);
        m_bytesTaken += quint64(bytes);
    }
}

void IPCLink::rejectFrame(quint32 length)
{
    qWarning("Frame of %u bytes exceeds the limit of %u bytes, connection dropped", length,
             kMaxFrameBytes);
    socket->abort();
    // abort() reports nothing, yet the socket's owner must learn that the connection is gone,
    // and it listens to the socket's error signal.
    emit socket->errorOccurred(QLocalSocket::DatagramTooLargeError);
}

bool IPCLink::send(const google::protobuf::Message& message)
{
    if (socket->state() != QLocalSocket::ConnectedState) {
        qWarning() << "Connection problem :" << QString::fromStdString(message.GetTypeName())
                   << "did not sent";
        return false;
    }
    const size_t size = message.ByteSizeLong();
    QByteArray frame(qsizetype(kPrefixBytes + size), Qt::Uninitialized);
    const quint32 length = quint32(size);
    memcpy(frame.data(), &length, kPrefixBytes);
    message.SerializeWithCachedSizesToArray(reinterpret_cast<uint8_t*>(frame.data()) +
                                            kPrefixBytes);
    socket->write(frame);
    socket->flush();
    // A peer that has gone shows here: the failed write closes the socket and reports why.
    return socket->state() == QLocalSocket::ConnectedState;
}

bool IPCLink::sendAndWait(const google::protobuf::Message& message)
{
    // A reply may come in several reads, and its first bytes alone answer nothing: a caller that
    // went on then would miss what the reply was to tell it.
    const quint64 handled = m_framesHandled;
    return sendAndWait(message, [this, handled] { return m_framesHandled != handled; });
}

bool IPCLink::sendAndWait(const google::protobuf::Message& message,
                          const std::function<bool()>& answered)
{
    send(message);
    const QDeadlineTimer deadline(m_waitMs);
    while (!answered()) {
        if (!waitForData(deadline)) {
            return false;
        }
        dataReceived();
    }
    return true;
}

bool IPCLink::waitForData(const QDeadlineTimer& deadline)
{
    if (socket->state() != QLocalSocket::ConnectedState) {
        return false;
    }
    // Qt's own wait cannot be woken, so the link polls the socket together with the wake
    // descriptor, and lets the socket read only what is there. A wait that runs out is then no
    // socket error either.
    pollfd fds[] = {{int(socket->socketDescriptor()), POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
    int ready = 0;
    do {
        ready = ::poll(fds, 2, int(deadline.remainingTime()));
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0 || fds[1].revents != 0) {
        return false;
    }
    return socket->waitForReadyRead(0);
}
