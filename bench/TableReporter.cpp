#include "TableReporter.h"

#include "IdleBench.h"
#include "MemoryBench.h"
#include "RunnerStreamBench.h"
#include "StartupBench.h"
#include "ThroughputBench.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <initializer_list>

namespace {

constexpr double kMega = 1e6;
constexpr double kKilo = 1e3;
constexpr double kMillisPerSecond = 1e3;
constexpr double kKiBPerMiB = 1024;
const char* const kFramesPerSecond = "items_per_second";
const char* const kBytesPerSecond = "bytes_per_second";
const char* const kMissing = "n/a";
const char* const kMedian = "median";
// In a goal column: the row makes a cost visible and is held to no figure.
const char* const kNoGoal = "—";

std::string format(const char* pattern, ...)
{
    char text[256];
    va_list arguments;
    va_start(arguments, pattern);
    std::vsnprintf(text, sizeof text, pattern, arguments);
    va_end(arguments);
    return text;
}

std::string number(const char* pattern, double value)
{
    return std::isnan(value) ? kMissing : format(pattern, value);
}

std::string rate(double perSecond)
{
    if (perSecond >= kMega) {
        return number("%.2f M", perSecond / kMega);
    }
    if (perSecond >= kKilo) {
        return number("%.1f k", perSecond / kKilo);
    }
    return number("%.1f", perSecond);
}

// One Markdown table row.
std::string row(std::initializer_list<std::string> cells)
{
    std::string line = "|";
    for (const std::string& cell : cells) {
        line += " " + cell + " |";
    }
    return line + "\n";
}

std::string verdict(bool met, double value)
{
    return std::isnan(value) ? kMissing : met ? "met" : "**missed**";
}

} // namespace

TableReporter::TableReporter(bool colour) : ConsoleReporter(colour ? OO_ColorTabular : OO_Tabular)
{
}

void TableReporter::ReportRuns(const std::vector<Run>& runs)
{
    std::vector<Run> shown;
    for (const Run& run : runs) {
        if (run.run_type == Run::RT_Iteration && !run.error_occurred && run.iterations > 0) {
            Sample sample{run.real_accumulated_time / double(run.iterations), {}};
            for (const auto& [name, counter] : run.counters) {
                sample.counters[name] = counter.value;
            }
            m_samples[run.run_name.function_name].push_back(sample);
        }
        const bool repeated = run.repetitions > 1;
        if (run.error_occurred || (!repeated && run.run_type == Run::RT_Iteration) ||
            (repeated && run.aggregate_name == kMedian)) {
            shown.push_back(run);
        }
    }
    if (!shown.empty()) {
        ConsoleReporter::ReportRuns(shown);
    }
}

double TableReporter::median(const std::string& name, const Figure& figure) const
{
    const auto found = m_samples.find(name);
    if (found == m_samples.end() || found->second.empty()) {
        return NAN;
    }
    std::vector<double> values;
    for (const Sample& sample : found->second) {
        values.push_back(figure(sample));
    }
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

TableReporter::Figure TableReporter::counter(const char* name)
{
    return [name](const Sample& sample) {
        const auto found = sample.counters.find(name);
        return found == sample.counters.end() ? NAN : found->second;
    };
}

double TableReporter::throughputGoal(NotificationSample::Size size)
{
    return size == NotificationSample::ProgressOnly ? kProgressGoal : kLargeFrameGoal;
}

std::string TableReporter::tables() const
{
    return throughputTable() + "\n" + streamTable() + "\n" + startupTable() + "\n" + memoryTable() +
           "\n" + idleTable();
}

std::string TableReporter::throughputTable() const
{
    std::string table =
        format("## Notification throughput (median of %d runs)\n\n", ThroughputBench::kRuns) +
        row({"Size", "Frame bytes", "Link frames/s", "Link MB/s", "Limit frames/s", "Limit MB/s",
             "Ratio", "Goal", ""}) +
        "|---|--:|--:|--:|--:|--:|--:|--:|---|\n";
    for (const NotificationSample::Size size : NotificationSample::kSizes) {
        const std::string name = NotificationSample::name(size);
        const std::string link = ThroughputBench::kLinkPrefix + name;
        const std::string limit = ThroughputBench::kLimitPrefix + name;
        const double linkFrames = median(link, counter(kFramesPerSecond));
        const double linkBytes = median(link, counter(kBytesPerSecond));
        const double limitFrames = median(limit, counter(kFramesPerSecond));
        const double ratio = linkFrames / limitFrames;
        const double goal = throughputGoal(size);
        table +=
            row({name, number("%.0f", linkBytes / linkFrames), rate(linkFrames),
                 number("%.1f", linkBytes / kMega), rate(limitFrames),
                 number("%.1f", median(limit, counter(kBytesPerSecond)) / kMega),
                 number("%.2f", ratio), format("≥ %.2f", goal), verdict(ratio >= goal, ratio)});
    }
    return table;
}

std::string TableReporter::startupTable() const
{
    const auto millis = [this](const char* name) {
        return median(name, [](const Sample& sample) { return sample.seconds; }) * kMillisPerSecond;
    };
    const double runner = millis(StartupBench::kRunner);
    const double emptyApp = millis(StartupBench::kEmptyApp);
    const double client = millis(StartupBench::kPosixClient);
    const double limit = emptyApp + client;
    const double ratio = runner / limit;
    return format("## Start-up to START_SCAN_REQUEST (median of %d starts)\n\n",
                  StartupBench::kRuns) +
           row({"Program", "Median"}) + "|---|--:|\n" +
           row({"runner (`norvo-scheduled-scan`), spawn to request seen",
                number("%.2f ms", runner)}) +
           row({"empty `QCoreApplication` program, spawn to running",
                number("%.2f ms", emptyApp)}) +
           row({"minimal POSIX-socket client, spawn to request seen", number("%.2f ms", client)}) +
           row({"**limit**: the two together", number("%.2f ms", limit)}) + "\n" +
           row({"Ratio runner / limit", "Goal", ""}) + "|--:|--:|---|\n" +
           row({number("%.2f", ratio), format("≤ %.2f", kStartupGoal),
                verdict(ratio <= kStartupGoal, ratio)});
}

std::string TableReporter::memoryTable() const
{
    const auto kib = [this](const char* name) { return median(MemoryBench::kName, counter(name)); };
    const double first = kib(MemoryBench::kResidentAfterFirst);
    const double peak = kib(MemoryBench::kPeakAtEnd);
    const double growth = peak - first;
    return format("## Runner memory over %d notifications\n\n", MemoryBench::kNotifications) +
           row({format("VmRSS after the first %d", MemoryBench::kFirst), "VmHWM at the end",
                "VmRSS at the end", "Growth", "Goal", ""}) +
           "|--:|--:|--:|--:|--:|---|\n" +
           row({number("%.0f KiB", first), number("%.0f KiB", peak),
                number("%.0f KiB", kib(MemoryBench::kResidentAtEnd)), number("%.0f KiB", growth),
                format("< %.0f MiB", kGrowthGoalKiB / kKiBPerMiB),
                verdict(growth < kGrowthGoalKiB, growth)});
}

std::string TableReporter::idleTable() const
{
    const double wakeUps = median(IdleBench::kName, counter(IdleBench::kWakeUps));
    return "## Runner idle while the file-check daemon is silent during a scan\n\n" +
           row({format("Voluntary context switches over %d s", IdleBench::kSilenceSeconds), "Goal",
                ""}) +
           "|--:|--:|---|\n" +
           row({number("%.0f", wakeUps), format("%.0f", kWakeUpGoal),
                verdict(wakeUps <= kWakeUpGoal, wakeUps)});
}

std::string TableReporter::streamTable() const
{
    const auto frames = [this](const char* name) {
        return median(name, counter(RunnerStreamBench::kFramesPerSecond));
    };
    const double progress = frames(RunnerStreamBench::kProgressOnly);
    const double threats = frames(RunnerStreamBench::kWithThreats);
    return format("## Runner end to end, stderr to a file (median of %d runs)\n\n",
                  RunnerStreamBench::kRuns) +
           format("Each run streams %d notifications of the runner's task and the one that ends "
                  "it.\n\n",
                  RunnerStreamBench::kNotifications) +
           row({"Progress only, frames/s",
                format("One in %d with a threat, frames/s", RunnerStreamBench::kThreatEvery),
                "Ratio with threats / progress only", "Goal"}) +
           "|--:|--:|--:|--:|\n" +
           row({rate(progress), rate(threats), number("%.2f", threats / progress), kNoGoal});
}
