#include "RunLock.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QDir>
#include <QStandardPaths>
#include <QThread>

namespace {
QString runtimeLockPath()
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return dir.isEmpty() ? QString() : QDir(dir).filePath(QLatin1String(RunLock::kFileName));
}
// Long enough for a starting run to write its process id into the lock it has just created.
constexpr int kOwnerWaitMs = 200;
constexpr int kOwnerPollMs = 5;
} // namespace

RunLock::RunLock() : RunLock(runtimeLockPath()) {}

RunLock::RunLock(const QString& path)
{
    if (!path.isEmpty()) {
        m_file = std::make_unique<QLockFile>(path);
        // A scan may take hours: only a dead owner makes the lock stale, never its age.
        m_file->setStaleLockTime(0);
    }
}

bool RunLock::acquire()
{
    if (!m_file) {
        qWarning("No runtime directory for the run lock, this run goes on unlocked");
        return true;
    }
    if (m_file->tryLock(0)) {
        return true;
    }
    if (m_file->error() == QLockFile::LockFailedError && ownerPid() == 0) {
        // A lock that never got its owner written was left by a run that died while taking it.
        m_file->removeStaleLockFile();
        if (m_file->tryLock(0)) {
            return true;
        }
    }
    if (m_file->error() == QLockFile::LockFailedError) {
        m_holder = ownerPid();
        return false;
    }
    // A scan is worth more than the lock.
    qWarning("Cannot create the run lock %s, this run goes on unlocked",
             qPrintable(m_file->fileName()));
    return true;
}

QString RunLock::heldLine() const
{
    return QStringLiteral("Scheduled scan already running (pid %1), this run ends").arg(m_holder);
}

qint64 RunLock::ownerPid() const
{
    QDeadlineTimer deadline(kOwnerWaitMs);
    for (;;) {
        qint64 pid = 0;
        if (m_file->getLockInfo(&pid, nullptr, nullptr) && pid > 0) {
            return pid;
        }
        if (deadline.hasExpired()) {
            return 0;
        }
        QThread::msleep(kOwnerPollMs);
    }
}
