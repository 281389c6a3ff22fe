#include "PeerCredentials.h"

#include <QLocalSocket>
#include <sys/socket.h>

std::optional<PeerCredentials> PeerCredentials::of(const QLocalSocket& socket)
{
    const qintptr descriptor = socket.socketDescriptor();
    if (descriptor < 0) {
        return std::nullopt;
    }
    ucred credentials{};
    socklen_t size = sizeof(credentials);
    if (::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 ||
        size != sizeof(credentials)) {
        return std::nullopt;
    }
    return PeerCredentials{credentials.uid, credentials.pid};
}
