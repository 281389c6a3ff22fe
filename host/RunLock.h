#pragma once

#include <QLockFile>
#include <memory>

// Keeps scheduled runs of one user from overlapping: a run that fires while the previous one is
// still scanning would hand the daemon a second scan of the same targets.
class RunLock
{
public:
    static constexpr char kFileName[] = "norvo-scheduled-scan.lock";

    // The lock in the user's runtime directory.
    RunLock();
    // The lock at a given path.
    explicit RunLock(const QString& path);

    // False only when another live run holds the lock; heldLine() then says which. A lock left
    // by a run that died is taken over; a lock that cannot be created at all lets the run go on
    // unlocked, with a warning.
    bool acquire();
    // The closing line of a run that found the lock held.
    QString heldLine() const;

private:
    // The process id written into a lock held by another run; 0 when none can be read.
    qint64 ownerPid() const;

    std::unique_ptr<QLockFile> m_file;
    qint64 m_holder = 0;
};
