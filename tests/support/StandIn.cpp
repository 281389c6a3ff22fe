#include "StandIn.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QThread>
#include <grp.h>
#include <unistd.h>

namespace {
const int kStartMs = 5000;
}

StandIn::StandIn(const QString& program, const QString& socket, const QStringList& arguments)
{
    start(program, socket, arguments);
}

StandIn::StandIn(const QString& program, const QString& socket, const QStringList& arguments,
                 uid_t uid)
{
    m_process.setChildProcessModifier([uid] {
        // A daemon that kept root would pass for a trusted one: better none at all.
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid_t(uid)) != 0 || ::setuid(uid) != 0) {
            ::_exit(127);
        }
    });
    start(program, socket, arguments);
}

void StandIn::start(const QString& program, const QString& socket, const QStringList& arguments)
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
