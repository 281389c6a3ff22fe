#include "PeerGuard.h"

#include "EscapedName.h"

#include <QLocalSocket>
#include <utility>

namespace {
constexpr uid_t kRootUid = 0;
}

PeerGuard::PeerGuard(Source source, uid_t ownUid) : m_source(std::move(source)), m_ownUid(ownUid) {}

bool PeerGuard::admit(const QLocalSocket& socket, const QString& path) const
{
    const std::optional<PeerCredentials> peer = m_source(socket);
    if (!peer) {
        qWarning("Refusing the peer at \"%s\": its credentials cannot be read",
                 qUtf8Printable(escapedName(path)));
        return false;
    }
    if (peer->uid != kRootUid && peer->uid != m_ownUid) {
        qWarning("Refusing the peer at \"%s\": uid %u, pid %d is neither root nor this user",
                 qUtf8Printable(escapedName(path)), unsigned(peer->uid), int(peer->pid));
        return false;
    }
    return true;
}

QString PeerGuard::refusedLine(const QString& path)
{
    return QStringLiteral("Scheduled scan not started: the peer at \"%1\" is not a trusted daemon")
        .arg(escapedName(path));
}
