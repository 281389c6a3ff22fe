#pragma once

#include "RunGate.h"

// With --if-incomplete: passes when the latest run left its scan unfinished, or left no result
// at all, so that a catch-up run scans only what the schedule missed.
class IncompleteGate : public RunGate
{
    Q_OBJECT

public:
    explicit IncompleteGate(const QString& resultFile);

    void start() override;

private:
    QString m_resultFile;
};
