// Runs the benchmarks, prints each figure beside its limit and goal, and with --report=<file>
// writes them, the machine and the notes on what moved the figures into that file.

#include "IdleBench.h"
#include "Machine.h"
#include "MemoryBench.h"
#include "RunnerStreamBench.h"
#include "StartupBench.h"
#include "TableReporter.h"
#include "ThroughputBench.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QLoggingCategory>
#include <benchmark/benchmark.h>
#include <fstream>
#include <iostream>
#include <malloc.h>
#include <sstream>
#include <unistd.h>
#include <vector>

namespace {

const char* const kReportOption = "--report=";
const char* const kInterleaved = "--benchmark_enable_random_interleaving=true";
// glibc's largest dynamic mmap threshold, and a trim threshold above any benchmark's heap.
constexpr int kMmapThreshold = 32 << 20;
constexpr int kTrimThreshold = 1 << 30;

std::string fileContents(const char* path)
{
    std::ifstream file(path);
    std::stringstream contents;
    contents << file.rdbuf();
    return contents.str();
}

std::string machine(const std::string& loadBefore, const std::string& loadAfter)
{
    return "## Machine\n\n- Processors: " + std::to_string(Machine::cores()) + " (`nproc`), " +
           Machine::cpuModel() + "\n- Load average (1, 5, 15 min): " + loadBefore +
           " before the run, " + loadAfter + " after it\n- Build: Release, " +
           Machine::toolchain() +
           "\n- Measured: " + QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toStdString() +
           "\n";
}

} // namespace

int main(int argc, char* argv[])
{
    // glibc returns freed heap to the system when nothing live lies above it, and the next 8 MiB
    // parse then faults it back in page by page. Whether that happens depends on where unrelated
    // allocations landed, and it moved the 8 MiB figures by up to 40% between builds. The
    // thresholds are held where glibc's own adjustment ends up, for the link and its limit alike.
    mallopt(M_MMAP_THRESHOLD, kMmapThreshold);
    mallopt(M_TRIM_THRESHOLD, kTrimThreshold);
    // Each figure and its limit are measured in turns, so that a change in the machine's load
    // falls on both instead of on whichever ran at the time.
    std::vector<char*> arguments(argv, argv + argc);
    arguments.insert(arguments.begin() + 1, const_cast<char*>(kInterleaved));
    argc = int(arguments.size());
    argv = arguments.data();
    benchmark::Initialize(&argc, argv);
    std::string reportPath;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument.rfind(kReportOption, 0) != 0) {
            std::cerr << "unknown argument " << argument << "\n";
            return 2;
        }
        reportPath = argument.substr(std::string(kReportOption).size());
    }
    // The links trace their requests at debug level; here that would only bury the figures.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    const QCoreApplication app(argc, argv);

    ThroughputBench::registerAll();
    StartupBench::registerAll();
    MemoryBench::registerAll();
    RunnerStreamBench::registerAll();
    IdleBench::registerAll();
    const std::string loadBefore = Machine::loadAverage();
    TableReporter reporter(isatty(STDOUT_FILENO) != 0);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const std::string figures =
        reporter.tables() + "\n" + machine(loadBefore, Machine::loadAverage());
    std::cout << "\n" << figures;
    if (!reportPath.empty()) {
        std::ofstream report(reportPath);
        report << "# Benchmarks\n\nWritten by `make bench`; every limit is measured in the same "
                  "run as the figure it bounds.\n\n"
               << figures << "\n"
               << fileContents(NORVO_BENCH_NOTES);
        if (!report) {
            std::cerr << "cannot write " << reportPath << "\n";
            return 1;
        }
    }
    return 0;
}
