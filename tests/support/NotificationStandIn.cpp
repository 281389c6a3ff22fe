#include "NotificationStandIn.h"

#include <QFile>
#include <QJsonDocument>

namespace {
// One JSON object a line, a line a call.
constexpr char kRecordFile[] = "calls.jsonl";
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
QStringList argumentsOf(const QString& busAddress, const QString& record,
                        NotificationStandIn::Answer answer, bool markup)
{
    QStringList arguments{QStringLiteral("--address"), busAddress,
                          QStringLiteral("--record"),  record,
                          QStringLiteral("--answer"),  QLatin1String(answerName(answer))};
    if (!markup) {
        arguments << QStringLiteral("--no-markup");
    }
    return arguments;
}
} // namespace

NotificationStandIn::NotificationStandIn(const QString& busAddress, Answer answer, bool markup)
    : m_process(QStringLiteral(NORVO_NOTIFICATIONS_STANDIN),
                argumentsOf(busAddress, m_dir.filePath(QLatin1String(kRecordFile)), answer, markup))
{
}

QList<QJsonObject> NotificationStandIn::calls() const
{
    QFile record(m_dir.filePath(QLatin1String(kRecordFile)));
    QList<QJsonObject> calls;
    if (record.open(QIODevice::ReadOnly)) {
        while (!record.atEnd()) {
            calls << QJsonDocument::fromJson(record.readLine()).object();
        }
    }
    return calls;
}
