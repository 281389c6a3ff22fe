#pragma once

// The real runner's rate through a stream of notifications of its task, its standard error going
// to a file, with and without a threat line to write for one notification in ten.
namespace RunnerStreamBench {

inline constexpr const char* kProgressOnly = "stream/runner/progress only";
inline constexpr const char* kWithThreats = "stream/runner/one in ten with a threat";
// Counter: frames written in the timed span, per second of it.
inline constexpr const char* kFramesPerSecond = "frames_per_second";
// One notification in this many carries a threat in the second stream.
inline constexpr int kThreatEvery = 10;
// About a second of the progress-only stream on this machine while it is lightly loaded.
inline constexpr int kNotifications = 3000000;
inline constexpr int kRuns = 5;

void registerAll();

} // namespace RunnerStreamBench
