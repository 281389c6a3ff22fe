#pragma once

#include "fcheck_client_ipc.pb.h"

#include <QElapsedTimer>
#include <QHash>

// What one scan-information subscriber asked to hear (its fc.ScanInfoOptions), and when each
// task last told it its progress.
class ScanSubscription
{
public:
    explicit ScanSubscription(const fc::ScanInfoOptions& options = fc::ScanInfoOptions());

    // Fills `selected` with the part of `info` that this subscriber wants; false when nothing
    // is left worth a message.
    bool select(const fc::ScanInfo& info, fc::ScanInfo* selected);

private:
    bool progressDue(const fc::ScanInfo& info);

    fc::ScanInfoOptions m_options;
    QHash<quint32, QElapsedTimer> m_lastProgress;
};
