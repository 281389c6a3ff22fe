#pragma once

#include "NotificationSample.h"

#include <benchmark/benchmark.h>
#include <functional>
#include <map>
#include <string>
#include <vector>

// Shows Google Benchmark's lines as the runs end (the median only, where a benchmark repeats),
// keeps every run, and sets each figure beside its limit and goal in Markdown tables.
class TableReporter : public benchmark::ConsoleReporter
{
public:
    // Of the limit, at least: small frames pay the reading path's cost per frame, large ones
    // hardly more than the parse.
    static constexpr double kProgressGoal = 0.85;
    static constexpr double kLargeFrameGoal = 0.9;
    static constexpr double kStartupGoal = 1.25;   // times the limit, at most
    static constexpr double kGrowthGoalKiB = 1024; // less than
    static constexpr double kWakeUpGoal = 0;       // at most

    explicit TableReporter(bool colour);

    void ReportRuns(const std::vector<Run>& runs) override;

    std::string tables() const;

private:
    struct Sample
    {
        double seconds; // per iteration
        std::map<std::string, double> counters;
    };
    using Figure = std::function<double(const Sample&)>;

    static Figure counter(const char* name);
    static double throughputGoal(NotificationSample::Size size);
    // The median over the repetitions of one benchmark; NaN when it did not run.
    double median(const std::string& name, const Figure& figure) const;
    std::string throughputTable() const;
    std::string startupTable() const;
    std::string memoryTable() const;
    std::string idleTable() const;
    std::string streamTable() const;

    std::map<std::string, std::vector<Sample>> m_samples;
};
