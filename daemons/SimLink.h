#pragma once

#include "IPCLink.h"

// One accepted connection of a stand-in daemon. Framing is the shared link's; each complete
// frame body goes to the daemon that owns the connection, which knows the envelope type.
class SimLink : public IPCLink
{
    Q_OBJECT

public:
    SimLink(QLocalSocket* socket, QObject* parent);

    void processMessage(const QByteArray& body) override;
    // A daemon sends no requests of its own.
    void request(int kind) override;
    void onError(QLocalSocket::LocalSocketError socketError) override;

    // The user id of the connected process, as the kernel vouches for it.
    quint32 peerUid() const;

signals:
    void messageReceived(SimLink* link, const QByteArray& body);
};
