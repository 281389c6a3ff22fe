#pragma once

#include <QtGlobal>
#include <string>

// One of the three notification sizes of the throughput benchmarks, as a batch of identical
// frames back to back: what the daemon writes during a burst.
class NotificationSample
{
public:
    enum Size { ProgressOnly, HundredThreats, EightMiB };
    static constexpr Size kSizes[] = {ProgressOnly, HundredThreats, EightMiB};
    static constexpr quint32 kTaskId = 7;

    explicit NotificationSample(Size size);

    static const char* name(Size size);
    const std::string& batch() const { return m_batch; }
    int framesPerBatch() const { return m_frames; }
    size_t frameBytes() const { return m_frameBytes; }

private:
    std::string m_batch;
    int m_frames = 0;
    size_t m_frameBytes = 0;
};
