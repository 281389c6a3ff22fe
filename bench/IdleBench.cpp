#include "IdleBench.h"

#include "Notifications.h"
#include "PosixSocket.h"
#include "RunnerProcess.h"
#include "StandInRun.h"

#include <benchmark/benchmark.h>
#include <thread>

namespace IdleBench {

namespace {

constexpr quint32 kTaskId = 13;
const char* const kVoluntarySwitches = "voluntary_ctxt_switches:";

// The runner sleeps in its event loop until the kernel wakes it, and each wake-up is a voluntary
// context switch: a timer or a poll of its own would show here.
void runnerIdle(benchmark::State& state)
{
    for (auto _ : state) {
        StandInRun run(kTaskId);
        if (!run.isReady()) {
            state.SkipWithError("cannot set up the run");
            return;
        }
        ChildProcess runner(NORVO_SCANNER, run.options());
        if (!run.daemons().waitForScanRequest(RunnerProcess::kTimeout)) {
            state.SkipWithError("no scan request arrived");
            return;
        }
        const int fd = run.daemons().scanConnection();
        if (!PosixSocket::writeAll(
                fd, PosixSocket::frameOf(Notifications::progress(kTaskId, 1, "/srv/data/a"))) ||
            !RunnerProcess::waitUntilIdle(fd, runner.pid())) {
            state.SkipWithError("the runner did not settle into its scan");
            return;
        }
        const qint64 before = RunnerProcess::statusField(runner.pid(), kVoluntarySwitches);
        std::this_thread::sleep_for(std::chrono::seconds(kSilenceSeconds));
        const qint64 after = RunnerProcess::statusField(runner.pid(), kVoluntarySwitches);
        // Closing the daemons' connections ends the run.
        run.daemons().closeConnections();
        if (before < 0 || after < 0 || runner.waitForExit(RunnerProcess::kTimeout) != 0) {
            state.SkipWithError("the runner did not stay in its scan");
            return;
        }
        state.counters[kWakeUps] = double(after - before);
    }
}

} // namespace

void registerAll()
{
    benchmark::RegisterBenchmark(kName, runnerIdle)
        ->Iterations(1)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
}

} // namespace IdleBench
