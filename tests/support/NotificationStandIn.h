#pragma once

#include "BusServiceProcess.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QTemporaryDir>

// Runs norvo-notifications-standin on a bus as a process of its own.
class NotificationStandIn
{
public:
    enum class Answer { Id, Error, Never };

    explicit NotificationStandIn(const QString& busAddress, Answer answer = Answer::Id,
                                 bool markup = true);

    // True once the stand-in owns the notification service's name.
    bool isReady() const { return m_process.isReady(); }
    QString error() const { return m_process.error(); }
    // Each Notify call so far, with the fields of the protocol plus "hintSignatures", the D-Bus
    // type of each hint.
    QList<QJsonObject> calls() const;

private:
    QTemporaryDir m_dir;
    BusServiceProcess m_process;
};
