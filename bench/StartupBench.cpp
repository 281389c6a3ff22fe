#include "StartupBench.h"

#include "StandInRun.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace StartupBench {

namespace {

using std::chrono::duration;
using std::chrono::milliseconds;

// Far beyond any start on a loaded machine, far below the runner's own 30 s waits.
constexpr milliseconds kStartTimeout(10000);

double secondsSince(std::chrono::steady_clock::time_point start,
                    std::chrono::steady_clock::time_point end)
{
    return duration<double>(end - start).count();
}

// Times a program that makes the start-up exchange, from its spawn to the moment the file-check
// daemon holds its scan request.
void exchangeStartup(benchmark::State& state, const char* program, bool takesTarget)
{
    StandInRun run;
    if (!run.isReady()) {
        state.SkipWithError("cannot set up the run");
        return;
    }
    ChildProcess::Options options = run.options();
    if (takesTarget) {
        options.arguments = {run.schedule().target()};
    }
    for (auto _ : state) {
        ChildProcess child(program, options);
        const auto seen = run.daemons().waitForScanRequest(kStartTimeout);
        if (!seen) {
            state.SkipWithError("no scan request arrived");
            return;
        }
        state.SetIterationTime(secondsSince(child.startedAt(), *seen));
        // The runner's run ends with its configuration daemon's connection.
        run.daemons().closeConnections();
        if (child.waitForExit(kStartTimeout) != 0) {
            state.SkipWithError("the program did not end cleanly");
            return;
        }
    }
}

// Times an empty core application from its spawn to its word that it exists.
void emptyAppStartup(benchmark::State& state)
{
    for (auto _ : state) {
        int ready[2];
        if (::pipe2(ready, O_CLOEXEC) != 0) {
            state.SkipWithError("pipe failed");
            return;
        }
        ChildProcess::Options options;
        options.stdoutFd = ready[1];
        ChildProcess child(NORVO_BENCH_EMPTY_APP, options);
        ::close(ready[1]);
        pollfd readable{ready[0], POLLIN, 0};
        char byte = 0;
        const bool said = ::poll(&readable, 1, int(kStartTimeout.count())) == 1 &&
                          ::read(ready[0], &byte, 1) == 1;
        const auto saidAt = std::chrono::steady_clock::now();
        ::close(ready[0]);
        if (!said || child.waitForExit(kStartTimeout) != 0) {
            state.SkipWithError("the empty application did not start");
            return;
        }
        state.SetIterationTime(secondsSince(child.startedAt(), saidAt));
    }
}

void configure(benchmark::internal::Benchmark* benchmark)
{
    // One start per repetition: every figure is a median of separate starts.
    benchmark->Iterations(1)->Repetitions(kRuns)->UseManualTime()->Unit(benchmark::kMillisecond);
}

} // namespace

void registerAll()
{
    configure(benchmark::RegisterBenchmark(kRunner, exchangeStartup, NORVO_SCANNER, false));
    configure(benchmark::RegisterBenchmark(kEmptyApp, emptyAppStartup));
    configure(benchmark::RegisterBenchmark(kPosixClient, exchangeStartup, NORVO_BENCH_POSIX_CLIENT,
                                           true));
}

} // namespace StartupBench
