#include "SimLink.h"

#include <sys/socket.h>

SimLink::SimLink(QLocalSocket* socket, QObject* parent) : IPCLink(socket, parent) {}

void SimLink::processMessage(const QByteArray& body)
{
    emit messageReceived(this, body);
}

void SimLink::request(int) {}

void SimLink::onError(QLocalSocket::LocalSocketError socketError)
{
    // A client hanging up is the ordinary end of a connection; the server drops it on
    // disconnected().
    if (socketError != QLocalSocket::PeerClosedError) {
        qWarning() << "connection error:" << socket->errorString();
    }
}

quint32 SimLink::peerUid() const
{
    ucred credentials = {};
    socklen_t size = sizeof credentials;
    if (::getsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &credentials,
                     &size) != 0) {
        return quint32(-1);
    }
    return credentials.uid;
}
