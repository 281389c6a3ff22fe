#include "IPCLink.h"

#include <QDeadlineTimer>
#include <cerrno>
#include <google/protobuf/message.h>
#include <poll.h>

namespace {
constexpr qint64 kPrefixBytes = sizeof(quint32);
// Bursts of reports stay below this; the array of a larger body is not kept.
constexpr qsizetype kReusedBodyBytes = qsizetype(64) * 1024;
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
    // The socket's own buffer holds partial frames until they are complete.
    for (;;) {
        if (bodySize == 0) {
            if (socket->bytesAvailable() < kPrefixBytes) {
                return;
            }
            quint32 length = 0;
            socket->read(reinterpret_cast<char*>(&length), kPrefixBytes);
            if (length > kMaxFrameBytes) {
                rejectFrame(length);
                return;
            }
            bodySize = length;
        } else {
            if (socket->bytesAvailable() < qint64(bodySize)) {
                return;
            }
            // One array serves every frame: allocating one per frame costs more than a small
            // frame's parse. A large frame's array is let go, so that it is not held for the run.
            m_body.resize(qsizetype(bodySize));
            socket->read(m_body.data(), qint64(bodySize));
            processMessage(m_body);
            if (m_body.capacity() > kReusedBodyBytes) {
                m_body = QByteArray();
            }
            bodySize = 0;
            ++m_framesHandled;
        }
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
    send(message);
    // A reply may come in several reads, and its first bytes alone answer nothing: a caller that
    // went on then would miss what the reply was to tell it.
    const quint64 handled = m_framesHandled;
    const QDeadlineTimer deadline(m_waitMs);
    while (m_framesHandled == handled) {
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
