#include "NotificationServer.h"

#include <QDBusMetaType>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {
QJsonValue jsonOf(const QVariant& value)
{
    switch (value.metaType().id()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::QString:
        return value.toString();
    default:
        return value.toLongLong();
    }
}
} // namespace

NotificationServer::NotificationServer(const QString& recordPath, Answer answer, bool markup)
    : m_record(recordPath), m_answer(answer), m_markup(markup)
{
    m_record.open(QIODevice::WriteOnly | QIODevice::Append);
}

QStringList NotificationServer::GetCapabilities()
{
    QStringList capabilities{QStringLiteral("body")};
    if (m_markup) {
        capabilities << QStringLiteral("body-markup");
    }
    return capabilities;
}

uint NotificationServer::Notify(const QString& app_name, uint replaces_id, const QString& app_icon,
                                const QString& summary, const QString& body,
                                const QStringList& actions, const QVariantMap& hints,
                                int expire_timeout)
{
    QJsonObject hintValues;
    QJsonObject hintSignatures;
    for (auto it = hints.cbegin(); it != hints.cend(); ++it) {
        hintValues.insert(it.key(), jsonOf(it.value()));
        // A server ignores an urgency that is not a byte: the type is part of what is checked.
        hintSignatures.insert(it.key(),
                              QLatin1String(QDBusMetaType::typeToSignature(it.value().metaType())));
    }
    const QJsonObject call{{"app_name", app_name},
                           {"replaces_id", qint64(replaces_id)},
                           {"app_icon", app_icon},
                           {"summary", summary},
                           {"body", body},
                           {"actions", QJsonArray::fromStringList(actions)},
                           {"hints", hintValues},
                           {"hintSignatures", hintSignatures},
                           {"expire_timeout", expire_timeout}};
    // Written before the answer leaves, so a caller that has its answer finds the line.
    m_record.write(QJsonDocument(call).toJson(QJsonDocument::Compact) + '\n');
    m_record.flush();

    switch (m_answer) {
    case Answer::Id:
        break;
    case Answer::Error:
        sendErrorReply(QStringLiteral("org.freedesktop.DBus.Error.Failed"),
                       QStringLiteral("The stand-in refuses notifications"));
        return 0;
    case Answer::Never:
        setDelayedReply(true);
        return 0;
    }
    return ++m_lastId;
}
