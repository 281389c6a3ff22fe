#include "NotificationStandIn.h"

#include <QFile>
#include <QJsonDocument>

namespace {
constexpr int kStartWaitMs = 5000;
const char* answerName(NotificationStandIn::Answer answer)
{
    switch (answer) {
    case NotificationStandIn::Answer::Id:
        return "id";
    case NotificationStandIn::Answer::Error:
        return "error";
    case NotificationStandIn::Answer::Never:
        return "never";
    }
    return "id";
}
} // namespace

NotificationStandIn::NotificationStandIn(const QString& busAddress, Answer answer, bool markup)
{
    QStringList arguments{
        QStringLiteral("--address"), busAddress,
        QStringLiteral("--record"),  m_dir.filePath(QStringLiteral("calls.jsonl")),
        QStringLiteral("--answer"),  QLatin1String(answerName(answer))};
    if (!markup) {
        arguments << QStringLiteral("--no-markup");
    }
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral(NORVO_NOTIFICATIONS_STANDIN), arguments);
    while (!m_process.canReadLine() && m_process.waitForReadyRead(kStartWaitMs)) {
    }
    m_ready = m_process.readLine().trimmed() == "ready";
    if (!m_ready) {
        m_error = m_process.errorString();
    }
}

NotificationStandIn::~NotificationStandIn()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(kStartWaitMs);
    }
}

QList<QJsonObject> NotificationStandIn::calls() const
{
    QFile record(m_dir.filePath(QStringLiteral("calls.jsonl")));
    QList<QJsonObject> calls;
    if (record.open(QIODevice::ReadOnly)) {
        while (!record.atEnd()) {
            calls << QJsonDocument::fromJson(record.readLine()).object();
        }
    }
    return calls;
}
