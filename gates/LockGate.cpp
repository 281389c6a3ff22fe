#include "LockGate.h"

LockGate::LockGate(RunLock lock) : m_lock(std::move(lock)) {}

void LockGate::start()
{
    if (m_lock.acquire()) {
        emit passed();
    } else {
        emit closed(m_lock.heldLine(), RunJournal::Gate::AlreadyRunning);
    }
}
