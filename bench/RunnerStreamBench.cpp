#include "RunnerStreamBench.h"

#include "Notifications.h"
#include "PosixSocket.h"
#include "RunnerProcess.h"
#include "StandInRun.h"

#include <QFile>
#include <benchmark/benchmark.h>
#include <string>

namespace RunnerStreamBench {

namespace {

constexpr quint32 kTaskId = 17;
const char* const kRunnerLog = "runner.log";
const char* const kClosingLine = "Scheduled scan finished: task ";
const char* const kThreatLine = "Threat found: ";

// The whole stream, made before the clock starts so that the timed span holds the runner's work
// and the kernel's, not the serialisation: every notification names another file, and with
// `threats` one in kThreatEvery reports a threat in it under a threat id of its own, reported and
// left in place. The entry that ends the task comes last.
std::string streamOf(bool threats)
{
    std::string frames;
    for (int n = 0; n < kNotifications; ++n) {
        fc::ServerMessage message =
            Notifications::progress(kTaskId, quint64(n), Notifications::scanningNow(n));
        if (threats && n % kThreatEvery == kThreatEvery - 1) {
            Notifications::addReported(Notifications::addThreat(message.mutable_info(0), quint32(n),
                                                                Notifications::scanningNow(n)));
        }
        frames += PosixSocket::frameOf(message);
    }
    return frames + PosixSocket::frameOf(Notifications::finished(kTaskId, kNotifications));
}

// Timed from the first byte written until the runner's closing line is in its log: that line is
// written when the runner has handled the last frame, and before its result file, so the span
// holds every frame's handling and nothing of the start-up or the exit.
void runnerStream(benchmark::State& state, bool threats)
{
    const std::string stream = streamOf(threats);
    const qsizetype expectedThreats = threats ? kNotifications / kThreatEvery : 0;
    // The end of the closing line: a progress line has more after its count.
    const QByteArray summary = "threats found: " + QByteArray::number(expectedThreats) + '\n';
    for (auto _ : state) {
        StandInRun run(kTaskId);
        if (!run.isReady()) {
            state.SkipWithError("cannot set up the run");
            return;
        }
        const std::string log = run.schedule().path(kRunnerLog);
        ChildProcess::Options options = run.options();
        options.stderrPath = log;
        ChildProcess runner(NORVO_SCANNER, options);
        if (!run.daemons().waitForScanRequest(RunnerProcess::kTimeout)) {
            state.SkipWithError("no scan request arrived");
            return;
        }
        const int fd = run.daemons().scanConnection();
        // The runner has taken the scan as its own and waits for the first notification.
        if (!RunnerProcess::waitUntilIdle(fd, runner.pid())) {
            state.SkipWithError("the runner did not settle into its scan");
            return;
        }
        const auto firstWritten = std::chrono::steady_clock::now();
        if (!PosixSocket::writeAll(fd, stream)) {
            state.SkipWithError("the runner stopped reading");
            return;
        }
        const auto closed = RunnerProcess::waitForText(log, kClosingLine);
        if (!closed || runner.waitForExit(RunnerProcess::kTimeout) != 0) {
            state.SkipWithError("the runner did not end with its scan");
            return;
        }
        QFile file(QString::fromStdString(log));
        const QByteArray written = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        if (!written.contains(summary) || written.count(kThreatLine) != expectedThreats) {
            state.SkipWithError("the runner did not count and log every threat");
            return;
        }
        const double seconds = std::chrono::duration<double>(*closed - firstWritten).count();
        state.SetIterationTime(seconds);
        state.counters[kFramesPerSecond] = double(kNotifications + 1) / seconds;
    }
}

} // namespace

void registerAll()
{
    for (const bool threats : {false, true}) {
        benchmark::RegisterBenchmark(threats ? kWithThreats : kProgressOnly, runnerStream, threats)
            ->Iterations(1)
            ->Repetitions(kRuns)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
}

} // namespace RunnerStreamBench
