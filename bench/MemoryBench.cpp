#include "MemoryBench.h"

#include "Notifications.h"
#include "PosixSocket.h"
#include "StandInRun.h"

#include <QFile>
#include <benchmark/benchmark.h>
#include <fstream>
#include <linux/sockios.h>
#include <sstream>
#include <sys/ioctl.h>
#include <thread>

namespace MemoryBench {

namespace {

using std::chrono::milliseconds;

constexpr quint32 kTaskId = 11;
constexpr milliseconds kTimeout(60000);
constexpr milliseconds kIdlePoll(20);
// One notification in this many also reports a threat; the closing summary counts them, which
// proves that every notification was read.
constexpr int kThreatEvery = 1000;
constexpr int kFramesPerWrite = 10000;
constexpr int kFilesPerDirectory = 1000;
const char* const kRunnerLog = "runner.log";

struct Memory
{
    qint64 residentKiB = -1;
    qint64 peakKiB = -1;
};

Memory memoryOf(pid_t pid)
{
    Memory memory;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        std::istringstream fields(line);
        std::string name;
        qint64 kib = -1;
        fields >> name >> kib;
        if (name == "VmRSS:") {
            memory.residentKiB = kib;
        } else if (name == "VmHWM:") {
            memory.peakKiB = kib;
        }
    }
    return memory;
}

// The state letter of /proc/<pid>/stat: 'S' while the runner waits in its event loop.
char stateOf(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t nameEnd = all.rfind(')');
    return nameEnd != std::string::npos && nameEnd + 2 < all.size() ? all[nameEnd + 2] : '?';
}

// True once the runner has taken every byte off the socket and gone back to waiting.
bool waitUntilIdle(int fd, pid_t pid)
{
    const auto deadline = std::chrono::steady_clock::now() + kTimeout;
    int idleSamples = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        int queued = -1;
        const bool drained = ::ioctl(fd, SIOCOUTQ, &queued) == 0 && queued == 0;
        idleSamples = drained && stateOf(pid) == 'S' ? idleSamples + 1 : 0;
        // Two samples apart: a single one may catch the runner between two reads.
        if (idleSamples == 2) {
            return true;
        }
        std::this_thread::sleep_for(kIdlePoll);
    }
    return false;
}

std::string scanningNow(int n)
{
    return "/srv/data/dir-" + std::to_string(n / kFilesPerDirectory) + "/file-" +
           std::to_string(n) + ".dat";
}

// Streams notifications number `from` to `to` (excluded) of the runner's task, each one naming
// another file, as a daemon does during a scan.
bool stream(int fd, int from, int to)
{
    std::string frames;
    for (int n = from; n < to; ++n) {
        fc::ServerMessage message = Notifications::progress(kTaskId, quint64(n), scanningNow(n));
        if (n % kThreatEvery == kThreatEvery - 1) {
            Notifications::addThreat(message.mutable_info(0), quint32(n), scanningNow(n));
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
        if (!run.daemons().waitForScanRequest(kTimeout)) {
            state.SkipWithError("no scan request arrived");
            return;
        }
        const int fd = run.daemons().scanConnection();
        if (!stream(fd, 0, kFirst) || !waitUntilIdle(fd, runner.pid())) {
            state.SkipWithError("the runner did not read the first notifications");
            return;
        }
        const Memory afterFirst = memoryOf(runner.pid());
        if (!stream(fd, kFirst, kNotifications) || !waitUntilIdle(fd, runner.pid())) {
            state.SkipWithError("the runner did not read every notification");
            return;
        }
        const Memory atEnd = memoryOf(runner.pid());
        if (!PosixSocket::writeAll(
                fd, PosixSocket::frameOf(Notifications::finished(kTaskId, kNotifications))) ||
            runner.waitForExit(kTimeout) != 0) {
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
