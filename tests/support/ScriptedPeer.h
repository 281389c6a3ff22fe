#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QThread>
#include <functional>
#include <memory>

class QLocalServer;
class QLocalSocket;

// A daemon stand-in that runs in a thread of its own, so that code under test may block on its
// socket while the peer answers. It frames nothing by itself: a reply is the raw bytes to write,
// which lets a test send broken frames as easily as good ones.
class ScriptedPeer
{
public:
    struct Reply
    {
        QByteArray bytes;
        bool close = false; // close the connection after writing
        // Above 0: written one byte at a time with this pause after each, as a daemon under load
        // or one that writes field by field might.
        int bytePauseMs = 0;
    };
    // Called in the peer's thread for every complete frame body received.
    using Responder = std::function<QList<Reply>(const QByteArray& body)>;

    ScriptedPeer(const QString& path, Responder responder);
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    QString path() const { return m_path; }
    // Every frame body received so far, over all connections, in order.
    QList<QByteArray> received() const;
    bool waitForReceived(int count, int timeoutMs = 10000) const;
    int connections() const;
    // Writes bytes to every open connection from the peer's thread.
    void sendToAll(const QByteArray& bytes);
    void closeAll();

    // Shared with the peer's thread, which outlives no call but may outlive a reply in flight.
    struct State;

private:
    QString m_path;
    std::shared_ptr<State> m_state;
    // Lives in the peer's thread: everything that touches the sockets is queued to it.
    std::unique_ptr<QObject> m_context;
    QThread m_thread;
};
