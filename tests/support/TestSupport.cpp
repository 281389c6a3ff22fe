#include "TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTest>
#include <cstring>

namespace {
struct CapturedLine
{
    QtMsgType type;
    QString text;
};
QList<CapturedLine>& captured()
{
    static QList<CapturedLine> list;
    return list;
}
void captureHandler(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    captured().append({type, text});
}
} // namespace

LogCapture::LogCapture() : m_previous(qInstallMessageHandler(captureHandler))
{
    captured().clear();
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
}

QStringList LogCapture::lines() const
{
    QStringList out;
    for (const CapturedLine& line : captured()) {
        out << line.text;
    }
    return out;
}

QStringList LogCapture::lines(QtMsgType type) const
{
    QStringList out;
    for (const CapturedLine& line : captured()) {
        if (line.type == type) {
            out << line.text;
        }
    }
    return out;
}

void LogCapture::clear()
{
    captured().clear();
}

SocketPair::SocketPair()
    : m_path(m_dir.filePath(QStringLiteral("s"))), m_client(std::make_unique<QLocalSocket>())
{
    QVERIFY2(m_server.listen(m_path), qPrintable(m_server.errorString()));
    m_client->connectToServer(m_path);
    QVERIFY(m_client->waitForConnected(5000));
    QVERIFY(m_server.waitForNewConnection(5000));
    m_peer = m_server.nextPendingConnection();
    QVERIFY(m_peer);
}

SocketPair::~SocketPair()
{
    // The client goes first so that nothing reports the peer's close to a dead receiver.
    m_client.reset();
}

void SocketPair::peerWrite(const QByteArray& bytes)
{
    const qint64 before = m_client->bytesAvailable();
    m_peer->write(bytes);
    m_peer->flush();
    QDeadlineTimer deadline(5000);
    // Pump only the socket layers, never the client's readyRead receivers: a test decides when
    // its link reads.
    const QSignalBlocker block(m_client.get());
    while (m_client->bytesAvailable() < before + bytes.size() && !deadline.hasExpired()) {
        m_peer->waitForBytesWritten(10);
        m_client->waitForReadyRead(10);
    }
}

QList<QByteArray> linesBesideSchedule(const QString& settingsFile)
{
    QFile file(settingsFile);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QList<QByteArray> lines = file.readAll().split('\n');
    lines.removeIf([](const QByteArray& line) {
        return line.startsWith("HasSchedule=") || line.startsWith("ScheduleScanType=") ||
               line.startsWith("SchedulePersistentPaths=") ||
               line.startsWith("ScheduleCustomPaths=");
    });
    return lines;
}

QByteArray frameOf(const QByteArray& body)
{
    const quint32 length = quint32(body.size());
    QByteArray frame(reinterpret_cast<const char*>(&length), sizeof length);
    return frame + body;
}

QByteArray frameOf(const google::protobuf::Message& message)
{
    return frameOf(QByteArray::fromStdString(message.SerializeAsString()));
}

QList<QByteArray> readFrames(QLocalSocket* socket, int count, int timeoutMs)
{
    QList<QByteArray> frames;
    QDeadlineTimer deadline(timeoutMs);
    while (frames.size() < count) {
        quint32 length = 0;
        if (socket->bytesAvailable() >= qint64(sizeof length)) {
            socket->peek(reinterpret_cast<char*>(&length), sizeof length);
            if (socket->bytesAvailable() >= qint64(sizeof length + length)) {
                socket->skip(sizeof length);
                frames << socket->read(length);
                continue;
            }
        }
        if (deadline.hasExpired()) {
            break;
        }
        socket->waitForReadyRead(int(qBound(qint64(1), deadline.remainingTime(), qint64(50))));
    }
    return frames;
}
