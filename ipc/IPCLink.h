#pragma once

#include <QLocalSocket>
#include <QObject>
#include <functional>

class QDeadlineTimer;

namespace google::protobuf {
class Message;
}

// Base of the daemon clients: cuts the socket's byte stream into length-prefixed frames and
// writes messages as frames. It uses the socket but never connects, closes or owns it.
//
// Frame: a 4-byte body length in host byte order, then the serialized message.
class IPCLink : public QObject
{
    Q_OBJECT

public:
    // Every blocking wait of the links and the run sequence is bounded by this.
    static constexpr int kWaitMs = 30000;
    // The message-size limit of the protocol-buffer runtime the daemons are built with: a longer
    // announced frame can only come from a broken or hostile peer.
    static constexpr quint32 kMaxFrameBytes = 64u * 1024u * 1024u;
    // The reader copies at most this much out of the socket at once, which holds hundreds of
    // progress frames; a body that does not fit is read on its own.
    static constexpr qint64 kBatchBytes = qint64(64) * 1024;

    // The request kinds of request(int), one numbering for both links.
    enum RequestKind {
        StartScan = 2,
        GetFcheckPath = 3,
        InterruptScan = 5,
        SubscribeToScanInfo = 6,
        QuarantineThreat = 7,
        DeleteThreat = 8,
        CureThreat = 9,
        SubscribeToThreats = 10,
        SubscribeToQuarantine = 11,
    };

    IPCLink(QLocalSocket* socket, QObject* parent);
    ~IPCLink() override;

    // Handles the body of one complete frame.
    virtual void processMessage(const QByteArray& body) = 0;
    // Builds and sends the simple request of a numbered kind; kinds a link does not serve are
    // ignored.
    virtual void request(int kind) = 0;

    // False when the message could not be handed to a connected socket.
    bool send(const google::protobuf::Message& message);
    // Sends, then blocks until a whole frame has arrived and been handled, waitMs() passes, or the
    // wake descriptor becomes readable. True means only that some frame was handled, not that it
    // answered this message.
    bool sendAndWait(const google::protobuf::Message& message);
    // The same, but frames are handled until `answered` holds after one of them: what arrives
    // before the answer is dispatched as usual and does not end the wait.
    bool sendAndWait(const google::protobuf::Message& message,
                     const std::function<bool()>& answered);

    int waitMs() const { return m_waitMs; }
    // Tests shorten the bound; the program keeps kWaitMs.
    void setWaitMs(int ms) { m_waitMs = ms; }
    // A descriptor that ends every wait as soon as it is readable: a run that is told to stop
    // must not sit out a 30-second wait first. -1: none.
    void setWakeDescriptor(int fd) { m_wakeFd = fd; }
    // Tests shrink the batch, to no less than a length word, to put its end where they need it;
    // the program keeps kBatchBytes.
    void setBatchBytes(qint64 bytes) { m_batchBytes = bytes; }

public slots:
    void dataReceived();
    virtual void onError(QLocalSocket::LocalSocketError socketError) = 0;

protected:
    quint32 bodySize;
    QLocalSocket* socket;

private:
    // The arrays of one run of the reader: a copy of what the socket holds, and the body of the
    // frame being handled. Kept between runs, so that a run allocates nothing.
    struct Buffers
    {
        QByteArray batch;
        QByteArray body;
    };

    bool cutBatch(Buffers& buffers);
    bool handleLargeBody();
    void take(qint64 bytes);
    void rejectFrame(quint32 length);
    // Blocks until the socket has read more data; false at the deadline, on a closed connection
    // or when woken.
    bool waitForData(const QDeadlineTimer& deadline);

    int m_waitMs = kWaitMs;
    int m_wakeFd = -1;
    qint64 m_batchBytes = kBatchBytes;
    Buffers m_buffers;
    // Bytes taken off the socket so far, so that a run can tell that a handler ran the reader
    // again and took what the run's copy still holds.
    quint64 m_bytesTaken = 0;
    // Frames handled so far, so that a wait can tell a whole reply from the first bytes of one.
    quint64 m_framesHandled = 0;
};
