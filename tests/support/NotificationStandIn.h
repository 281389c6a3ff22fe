#pragma once

#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// Runs norvo-notifications-standin on a bus as a process of its own, so that it answers while
// the test blocks, in a QProcess wait or in a blocking D-Bus call.
class NotificationStandIn
{
public:
    enum class Answer { Id, Error, Never };

    explicit NotificationStandIn(const QString& busAddress, Answer answer = Answer::Id,
                                 bool markup = true);
    ~NotificationStandIn();
    NotificationStandIn(const NotificationStandIn&) = delete;
    NotificationStandIn& operator=(const NotificationStandIn&) = delete;

    // True once the stand-in owns the notification service's name.
    bool isReady() const { return m_ready; }
    QString error() const { return m_error; }
    // Each Notify call so far, with the fields of the protocol plus "hintSignatures", the D-Bus
    // type of each hint.
    QList<QJsonObject> calls() const;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    bool m_ready = false;
    QString m_error;
};
