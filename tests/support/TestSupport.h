#pragma once

// Shared fixtures of the unit tests: captured log lines, a connected local socket pair, and
// frame helpers for the peer end.

#include <QByteArray>
#include <QList>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStringList>
#include <QTemporaryDir>
#include <google/protobuf/message.h>
#include <memory>

// Records every Qt log line while alive, as the message handler receives it.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QStringList lines() const;               // every line, in order
    QStringList lines(QtMsgType type) const; // only lines of one level
    void clear();

private:
    QtMessageHandler m_previous;
};

// A client socket connected to a peer socket accepted by a server on a temporary path.
class SocketPair
{
public:
    SocketPair();
    ~SocketPair();
    SocketPair(const SocketPair&) = delete;
    SocketPair& operator=(const SocketPair&) = delete;

    QLocalSocket* client() const { return m_client.get(); }
    QLocalSocket* peer() const { return m_peer; }
    QString path() const { return m_path; }

    // Writes raw bytes from the peer end and waits until the client has them buffered, without
    // letting the client's readyRead reach its slots from inside this call.
    void peerWrite(const QByteArray& bytes);

private:
    QTemporaryDir m_dir;
    QString m_path;
    QLocalServer m_server;
    std::unique_ptr<QLocalSocket> m_client;
    QLocalSocket* m_peer = nullptr;
};

// The lines of a settings file other than those of the schedule's keys, to show that storing a
// schedule leaves them as they were.
QList<QByteArray> linesBesideSchedule(const QString& settingsFile);

// One frame as the links write it: host-order 32-bit body length, then the body.
QByteArray frameOf(const QByteArray& body);
QByteArray frameOf(const google::protobuf::Message& message);

// Reads exactly `count` frame bodies from `socket`, waiting up to `timeoutMs` in all; returns
// fewer when they do not arrive in time.
QList<QByteArray> readFrames(QLocalSocket* socket, int count, int timeoutMs = 5000);

template <typename Message>
QList<Message> readMessages(QLocalSocket* socket, int count, int timeoutMs = 5000)
{
    QList<Message> messages;
    for (const QByteArray& body : readFrames(socket, count, timeoutMs)) {
        Message message;
        if (message.ParseFromArray(body.constData(), int(body.size()))) {
            messages << message;
        }
    }
    return messages;
}
