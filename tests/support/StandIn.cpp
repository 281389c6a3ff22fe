#include "StandIn.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QThread>

namespace {
const int kStartMs = 5000;
}

StandIn::StandIn(const QString& program, const QString& socket, const QStringList& arguments)
{
    m_process.start(program, QStringList{QStringLiteral("--socket"), socket} + arguments);
    QDeadlineTimer deadline(kStartMs);
    while (!QFileInfo::exists(socket) && !deadline.hasExpired()) {
        QThread::msleep(10);
    }
}

StandIn::~StandIn()
{
    m_process.terminate();
    m_process.waitForFinished();
}

void StandIn::kill()
{
    m_process.kill();
    m_process.waitForFinished();
}
