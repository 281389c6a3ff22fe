#include "SimServer.h"

#include "SignalWatcher.h"
#include "SimLink.h"

#include <google/protobuf/message.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>

#include <csignal>
#include <sys/stat.h>
#include <sys/un.h>

namespace {
// How long a connection attempt may take to show that a daemon still listens on a socket file.
constexpr int kProbeMs = 1000;

// A socket file that nobody accepts connections on is left over from a daemon that died and may
// go. Anything else at the path is someone else's and stays.
bool isStaleSocket(const QString& path)
{
    struct stat info = {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISSOCK(info.st_mode)) {
        return false;
    }
    QLocalSocket probe;
    probe.connectToServer(path);
    return !probe.waitForConnected(kProbeMs);
}
} // namespace

SimServer::SimServer(const QString& name, QObject* parent) : QObject(parent), m_log(name)
{
    connect(&m_server, &QLocalServer::newConnection, this, &SimServer::accept);
}

int SimServer::serve(const QString& socketPath, const QString& recordPath)
{
    // Installed first: a quit signal that arrives while starting up still ends the run cleanly,
    // with the socket file removed.
    SignalWatcher quitSignals({SIGTERM, SIGINT});
    connect(&quitSignals, &SignalWatcher::received, qApp, &QCoreApplication::quit);
    // A client that vanishes must not kill the daemon in the middle of an answer.
    std::signal(SIGPIPE, SIG_IGN);
    if (!recordPath.isEmpty() && !m_log.openRecord(recordPath)) {
        return 1;
    }
    if (!listen(socketPath)) {
        return 1;
    }
    const int status = QCoreApplication::exec();
    m_server.close();
    m_log.note(QStringLiteral("stopped"));
    return status;
}

void SimServer::closed(SimLink*) {}

bool SimServer::read(const QByteArray& body, google::protobuf::Message* envelope)
{
    if (!envelope->ParseFromArray(body.constData(), int(body.size()))) {
        m_log.note(QStringLiteral("<- %1 bytes that are no %2, dropped")
                       .arg(body.size())
                       .arg(QString::fromStdString(envelope->GetTypeName())));
        return false;
    }
    m_log.received(*envelope);
    return true;
}

void SimServer::reply(SimLink* link, const google::protobuf::Message& envelope)
{
    m_log.sent(envelope);
    link->send(envelope);
}

bool SimServer::listen(const QString& path)
{
    if (isStaleSocket(path)) {
        QLocalServer::removeServer(path);
    }
    if (!m_server.listen(path)) {
        m_log.note(QStringLiteral("cannot listen on %1: %2").arg(path, listenError(path)));
        return false;
    }
    m_log.note(QStringLiteral("listening on %1").arg(path));
    return true;
}

QString SimServer::listenError(const QString& path) const
{
    // Qt names most bind failures just "Name error"; say what is wrong where it can be told.
    const QString directory = QFileInfo(path).absolutePath();
    if (!QFileInfo(directory).isDir()) {
        return QStringLiteral("there is no directory %1").arg(directory);
    }
    if (size_t(QFile::encodeName(path).size()) >= sizeof(sockaddr_un::sun_path)) {
        return QStringLiteral("the path is too long for a local socket");
    }
    if (m_server.serverError() == QAbstractSocket::AddressInUseError) {
        return QStringLiteral("the path is taken (a daemon listens there, or it is no socket)");
    }
    return m_server.errorString();
}

void SimServer::accept()
{
    while (QLocalSocket* socket = m_server.nextPendingConnection()) {
        // The link dies with its socket, and the socket once its client has gone.
        auto* link = new SimLink(socket, socket);
        connect(link, &SimLink::messageReceived, this, &SimServer::received);
        connect(socket, &QLocalSocket::disconnected, this, [this, link, socket] {
            closed(link);
            socket->deleteLater();
        });
    }
}
