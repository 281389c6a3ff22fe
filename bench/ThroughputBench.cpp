#include "ThroughputBench.h"

#include "FcIPCLink.h"
#include "NotificationSample.h"
#include "Notifications.h"
#include "PosixSocket.h"
#include "ScanTask.h"
#include "StreamWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QLocalSocket>
#include <benchmark/benchmark.h>
#include <cstring>
#include <sys/socket.h>

namespace ThroughputBench {

namespace {

// With kRuns, a few seconds per benchmark.
constexpr double kMinSeconds = 0.5;
constexpr size_t kPrefixBytes = sizeof(quint32);

void reportVolume(benchmark::State& state, const NotificationSample& sample, int64_t frames)
{
    state.SetItemsProcessed(frames);
    state.SetBytesProcessed(frames * int64_t(sample.frameBytes()));
}

// The runner's reading path: a real local socket, the link's frame reader and dispatch, and a
// receiver of every entry, driven by the event loop. The link has started a scan, so it tracks
// the entries of its own task as the runner's link does.
void linkThroughput(benchmark::State& state, NotificationSample::Size size)
{
    const NotificationSample sample(size);
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        state.SkipWithError("socketpair failed");
        return;
    }
    QLocalSocket socket;
    socket.setSocketDescriptor(fds[0]);
    FcIPCLink link(&socket, nullptr);
    int64_t received = 0;
    QObject::connect(&link, &FcIPCLink::newScanInfo, &link, [&received](const fc::ScanInfo& info) {
        benchmark::DoNotOptimize(info.task_id());
        ++received;
    });
    link.scan(QSharedPointer<ScanTask>::create(ScanTask::CustomScan, QStringList{QDir::tempPath()},
                                               false, false),
              nv::LinuxGUIConfig(), std::string());
    const StreamWriter writer(
        fds[1], PosixSocket::frameOf(Notifications::scanStarted(NotificationSample::kTaskId)),
        sample.batch());

    for (auto _ : state) {
        const int64_t target = received + sample.framesPerBatch();
        while (received < target && socket.state() == QLocalSocket::ConnectedState) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
    }
    if (socket.state() != QLocalSocket::ConnectedState) {
        state.SkipWithError("the stream broke off");
    }
    if (link.currentTaskId() != int(NotificationSample::kTaskId)) {
        state.SkipWithError("the link did not take the scan as its own");
    }
    reportVolume(state, sample, received);
    // Closing the reader ends the writer.
    socket.abort();
}

// The limit: the same frames parsed from memory by the protocol-buffer runtime, one message each.
void parseLimit(benchmark::State& state, NotificationSample::Size size)
{
    const NotificationSample sample(size);
    const std::string& batch = sample.batch();
    for (auto _ : state) {
        for (size_t at = 0; at < batch.size();) {
            quint32 length = 0;
            memcpy(&length, batch.data() + at, kPrefixBytes);
            at += kPrefixBytes;
            fc::ServerMessage message;
            if (!message.ParseFromArray(batch.data() + at, int(length))) {
                state.SkipWithError("a sample frame does not parse");
                return;
            }
            benchmark::DoNotOptimize(message.info(0).task_id());
            at += length;
        }
    }
    reportVolume(state, sample, int64_t(state.iterations()) * sample.framesPerBatch());
}

void configure(benchmark::internal::Benchmark* benchmark)
{
    benchmark->MinTime(kMinSeconds)
        ->Repetitions(kRuns)
        ->Unit(benchmark::kMicrosecond)
        ->UseRealTime();
}

} // namespace

void registerAll()
{
    for (const NotificationSample::Size size : NotificationSample::kSizes) {
        const std::string name = NotificationSample::name(size);
        configure(benchmark::RegisterBenchmark((kLinkPrefix + name).c_str(), linkThroughput, size));
        configure(benchmark::RegisterBenchmark((kLimitPrefix + name).c_str(), parseLimit, size));
    }
}

} // namespace ThroughputBench
