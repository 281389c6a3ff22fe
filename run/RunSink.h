#pragma once

#include "RunReport.h"

// Somewhere a run's report goes once the run has ended: the result file, the desktop. A sink
// returns within a bound of its own, since the run's closing line waits for every sink, so that
// whatever a sink has to say comes before that line and nothing after it.
class RunSink
{
public:
    virtual ~RunSink() = default;

    virtual void deliver(const RunReport& report) = 0;
};
