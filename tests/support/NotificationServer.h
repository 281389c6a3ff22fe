#pragma once

#include <QDBusContext>
#include <QFile>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

// A desktop notification server that records each Notify call as one JSON line, and answers as
// a test tells it: with an id, with an error, or not at all.
class NotificationServer : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    enum class Answer { Id, Error, Never };

    NotificationServer(const QString& recordPath, Answer answer, bool markup);
    QString recordError() const { return m_record.errorString(); }
    bool isRecording() const { return m_record.isOpen(); }

public slots:
    QStringList GetCapabilities();
    uint Notify(const QString& app_name, uint replaces_id, const QString& app_icon,
                const QString& summary, const QString& body, const QStringList& actions,
                const QVariantMap& hints, int expire_timeout);

private:
    QFile m_record;
    Answer m_answer;
    bool m_markup;
    uint m_lastId = 0;
};
