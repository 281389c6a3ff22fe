#pragma once

// Notification throughput of the file-check link against parsing the same frames from memory.
namespace ThroughputBench {

inline constexpr const char* kLinkPrefix = "throughput/link/";
inline constexpr const char* kLimitPrefix = "throughput/limit/";
// Each figure is the median of this many runs, against a shared machine's noise.
inline constexpr int kRuns = 5;

void registerAll();

} // namespace ThroughputBench
