#include "ScriptedPeer.h"

#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMutexLocker>

struct ScriptedPeer::State
{
    Responder responder;
    mutable QMutex mutex;
    QList<QByteArray> received;
    int connections = 0;
    QLocalServer* server = nullptr;
};

namespace {

void serve(QLocalSocket* socket, const std::shared_ptr<ScriptedPeer::State>& state,
           const ScriptedPeer::Responder& responder);

} // namespace

ScriptedPeer::ScriptedPeer(const QString& path, Responder responder)
    : m_path(path), m_state(std::make_shared<State>()), m_context(std::make_unique<QObject>())
{
    m_state->responder = std::move(responder);
    m_context->moveToThread(&m_thread);
    m_thread.start();
    const auto state = m_state;
    QMetaObject::invokeMethod(
        m_context.get(),
        [state, path] {
            state->server = new QLocalServer;
            QLocalServer::removeServer(path);
            state->server->listen(path);
            QObject::connect(state->server, &QLocalServer::newConnection, state->server, [state] {
                while (QLocalSocket* socket = state->server->nextPendingConnection()) {
                    {
                        QMutexLocker lock(&state->mutex);
                        ++state->connections;
                    }
                    serve(socket, state, state->responder);
                }
            });
        },
        Qt::BlockingQueuedConnection);
}

ScriptedPeer::~ScriptedPeer()
{
    const auto state = m_state;
    QMetaObject::invokeMethod(
        m_context.get(), [state] { delete state->server; }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

QList<QByteArray> ScriptedPeer::received() const
{
    QMutexLocker lock(&m_state->mutex);
    return m_state->received;
}

bool ScriptedPeer::waitForReceived(int count, int timeoutMs) const
{
    QDeadlineTimer deadline(timeoutMs);
    while (received().size() < count) {
        if (deadline.hasExpired()) {
            return false;
        }
        QThread::msleep(5);
    }
    return true;
}

int ScriptedPeer::connections() const
{
    QMutexLocker lock(&m_state->mutex);
    return m_state->connections;
}

void ScriptedPeer::sendToAll(const QByteArray& bytes)
{
    const auto state = m_state;
    QMetaObject::invokeMethod(
        m_context.get(),
        [state, bytes] {
            for (QLocalSocket* socket : state->server->findChildren<QLocalSocket*>()) {
                socket->write(bytes);
                socket->flush();
            }
        },
        Qt::BlockingQueuedConnection);
}

void ScriptedPeer::closeAll()
{
    const auto state = m_state;
    QMetaObject::invokeMethod(
        m_context.get(),
        [state] {
            for (QLocalSocket* socket : state->server->findChildren<QLocalSocket*>()) {
                socket->disconnectFromServer();
            }
        },
        Qt::BlockingQueuedConnection);
}

namespace {

void write(QLocalSocket* socket, const ScriptedPeer::Reply& reply)
{
    if (reply.bytePauseMs <= 0) {
        socket->write(reply.bytes);
        socket->flush();
        return;
    }
    for (char byte : reply.bytes) {
        socket->write(&byte, 1);
        socket->flush();
        QThread::msleep(reply.bytePauseMs);
    }
}

void serve(QLocalSocket* socket, const std::shared_ptr<ScriptedPeer::State>& state,
           const ScriptedPeer::Responder& responder)
{
    QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket, state, responder] {
        for (;;) {
            quint32 length = 0;
            if (socket->bytesAvailable() < qint64(sizeof length)) {
                return;
            }
            socket->peek(reinterpret_cast<char*>(&length), sizeof length);
            if (socket->bytesAvailable() < qint64(sizeof length + length)) {
                return;
            }
            socket->skip(sizeof length);
            const QByteArray body = socket->read(length);
            {
                QMutexLocker lock(&state->mutex);
                state->received << body;
            }
            for (const ScriptedPeer::Reply& reply : responder(body)) {
                write(socket, reply);
                if (reply.close) {
                    socket->disconnectFromServer();
                    return;
                }
            }
        }
    });
}

} // namespace
