#pragma once

#include <optional>
#include <sys/types.h>

class QLocalSocket;

// Who holds the other end of a connected local socket, as the kernel recorded it when the
// connection was made; the peer cannot forge it.
struct PeerCredentials
{
    uid_t uid = 0;
    pid_t pid = 0;

    // None when the socket is not connected or the kernel does not tell.
    static std::optional<PeerCredentials> of(const QLocalSocket& socket);
};
