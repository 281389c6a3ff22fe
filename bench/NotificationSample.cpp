#include "NotificationSample.h"

#include "Notifications.h"
#include "PosixSocket.h"

#include <google/protobuf/io/coded_stream.h>

namespace {

constexpr int kHundred = 100;
constexpr size_t kEightMiB = size_t(8) << 20;
// Large enough that a batch amortises the reader's wake-ups, small enough to stay in the cache
// for the in-memory limit.
constexpr size_t kBatchBytes = size_t(1) << 20;
constexpr quint64 kScanned = 421337;
// The key of a repeated field numbered below 16 takes one byte on the wire.
constexpr size_t kFieldKeyBytes = 1;

using google::protobuf::io::CodedOutputStream;

const std::string kScanningNow = "/home/user/Documents/projects/report-2023/figures/figure-12.png";

std::string threatPath(quint32 threatId)
{
    return "/home/user/Downloads/archive-" + std::to_string(threatId) + "/eicar.com";
}

fc::ServerMessage sampleOf(NotificationSample::Size size)
{
    fc::ServerMessage message =
        Notifications::progress(NotificationSample::kTaskId, kScanned, kScanningNow);
    fc::ScanInfo* info = message.mutable_info(0);
    switch (size) {
    case NotificationSample::ProgressOnly:
        break;
    case NotificationSample::HundredThreats:
        for (quint32 id = 1; id <= kHundred; ++id) {
            Notifications::addThreat(info, id, threatPath(id));
        }
        break;
    case NotificationSample::EightMiB: {
        // Summed per report: sizing the whole message after each one would take minutes.
        size_t bytes = message.ByteSizeLong();
        for (quint32 id = 1; bytes < kEightMiB; ++id) {
            Notifications::addThreat(info, id, threatPath(id));
            const size_t report = info->threat(info->threat_size() - 1).ByteSizeLong();
            bytes += kFieldKeyBytes + CodedOutputStream::VarintSize64(report) + report;
        }
        break;
    }
    }
    return message;
}

} // namespace

NotificationSample::NotificationSample(Size size)
{
    const std::string frame = PosixSocket::frameOf(sampleOf(size));
    m_frameBytes = frame.size();
    m_frames = int(std::max<size_t>(1, kBatchBytes / m_frameBytes));
    m_batch.reserve(m_frameBytes * size_t(m_frames));
    for (int i = 0; i < m_frames; ++i) {
        m_batch += frame;
    }
}

const char* NotificationSample::name(Size size)
{
    switch (size) {
    case ProgressOnly:
        return "progress only";
    case HundredThreats:
        return "100 threat reports";
    case EightMiB:
        return "one 8 MiB frame";
    }
    return "";
}
