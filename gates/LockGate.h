#pragma once

#include "RunGate.h"
#include "RunLock.h"

// Passes when this run holds the user's run lock, which it keeps until the process ends.
class LockGate : public RunGate
{
    Q_OBJECT

public:
    explicit LockGate(RunLock lock = RunLock());

    void start() override;

private:
    RunLock m_lock;
};
