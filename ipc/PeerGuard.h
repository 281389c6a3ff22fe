#pragma once

#include "PeerCredentials.h"

#include <QString>
#include <functional>
#include <optional>
#include <unistd.h>

class QLocalSocket;

// Decides whether the peer of a freshly made daemon connection may receive anything. The
// file-check socket lies wherever the configuration daemon says, possibly in a directory that
// anyone can write, and the configuration daemon's own path can be redirected: whoever binds such
// a path first would receive the user's targets and could report a scan that never ran. So a
// peer is trusted only when it runs as root or as this user. The same rule serves both daemons:
// a configuration daemon that passed it runs as one of those two, so trusting its user as well
// would trust nobody new.
class PeerGuard
{
public:
    using Source = std::function<std::optional<PeerCredentials>(const QLocalSocket&)>;

    explicit PeerGuard(Source source = &PeerCredentials::of, uid_t ownUid = ::getuid());

    // Writes one warning naming the path and the peer when it refuses.
    bool admit(const QLocalSocket& socket, const QString& path) const;

    // The closing line of a run that refused the peer at `path`.
    static QString refusedLine(const QString& path);

private:
    Source m_source;
    uid_t m_ownUid;
};
