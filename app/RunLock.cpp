#include "RunLock.h"

#include <QDebug>
#include <QDir>
#include <QStandardPaths>

namespace {
QString runtimeLockPath()
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return dir.isEmpty() ? QString() : QDir(dir).filePath(QLatin1String(RunLock::kFileName));
}
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
    if (m_file->error() == QLockFile::LockFailedError) {
        qint64 pid = 0;
        m_file->getLockInfo(&pid, nullptr, nullptr);
        qWarning("Scheduled scan already running (pid %lld), this run ends", pid);
        return false;
    }
    // A scan is worth more than the lock.
    qWarning("Cannot create the run lock %s, this run goes on unlocked",
             qPrintable(m_file->fileName()));
    return true;
}
