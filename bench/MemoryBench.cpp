#include "MemoryBench.h"

#include "Notifications.h"
#include "PosixSocket.h"
#include "RunnerProcess.h"
#include "StandInRun.h"

#include <QFile>
#include <benchmark/benchmark.h>

namespace MemoryBench {

namespace {

constexpr quint32 kTaskId = 11;
// One notification in this many also reports a threat; the closing summary counts them, which
// proves that every notification was read.
constexpr int kThreatEvery = 1000;
constexpr int kFramesPerWrite = 10000;
const char* const kRunnerLog = "runner.log";

struct Memory
{
    explicit Memory(pid_t pid)
        : residentKiB(RunnerProcess::statusField(pid, "VmRSS:")),
          peakKiB(RunnerProcess::statusField(pid, "VmHWM:"))
    {
    }

    qint64 residentKiB;
    qint64 peakKiB;
};

// Streams notifications number `from` to `to` (excluded) of the runner's task, each one naming
// another file, as a daemon does during a scan.
bool stream(int fd, int from, int to)
{
    std::string frames;
    for (int n = from; n < to; ++n) {
        fc::ServerMessage message =
            Notifications::progress(kTaskId, quint64(n), Notifications::scanningNow(n));
        if (n % kThreatEvery == kThreatEvery - 1) {
            Notifications::addThreat(message.mutable_info(0), quint32(n),
                                     Notifications::scanningNow(n));
        }
        frames += PosixSocket::frameOf(message);
        if ((n - from) % kFramesPerWrite == kFramesPerWrite - 1 || n == to - 1) {
            if (!PosixSocket::writeAll(fd, frames)) {
                return false;
            }
            frames.clear();
        }
    }
    return true;
}

void runnerMemory(benchmark::State& state)
{
    for (auto _ : state) {
        StandInRun run(kTaskId);
        if (!run.isReady()) {
            state.SkipWithError("cannot set up the run");
            return;
        }
        ChildProcess::Options options = run.options();
        options.stderrPath = run.schedule().path(kRunnerLog);
        ChildProcess runner(NORVO_SCANNER, options);
        if (!run.daemons().waitForScanRequest(RunnerProcess::kTimeout)) {
            state.SkipWithError("no scan request arrived");
            return;
        }
        const int fd = run.daemons().scanConnection();
        if (!stream(fd, 0, kFirst) || !RunnerProcess::waitUntilIdle(fd, runner.pid())) {
            state.SkipWithError("the runner did not read the first notifications");
            return;
        }
        const Memory afterFirst(runner.pid());
        if (!stream(fd, kFirst, kNotifications) ||
            !RunnerProcess::waitUntilIdle(fd, runner.pid())) {
            state.SkipWithError("the runner did not read every notification");
            return;
        }
        const Memory atEnd(runner.pid());
        if (!PosixSocket::writeAll(
                fd, PosixSocket::frameOf(Notifications::finished(kTaskId, kNotifications))) ||
            runner.waitForExit(RunnerProcess::kTimeout) != 0) {
            state.SkipWithError("the runner did not end with its scan");
            return;
        }
        QFile log(QString::fromStdString(run.schedule().path(kRunnerLog)));
        const QByteArray summary =
            "threats found: " + QByteArray::number(kNotifications / kThreatEvery);
        if (!log.open(QIODevice::ReadOnly) || !log.readAll().contains(summary)) {
            state.SkipWithError("the runner's summary does not count every notification");
            return;
        }
        state.counters[kResidentAfterFirst] = double(afterFirst.residentKiB);
        state.counters[kPeakAtEnd] = double(atEnd.peakKiB);
        state.counters[kResidentAtEnd] = double(atEnd.residentKiB);
    }
}

} // namespace

void registerAll()
{
    benchmark::RegisterBenchmark(kName, runnerMemory)
        ->Iterations(1)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
}

} // namespace MemoryBench
