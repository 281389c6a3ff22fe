#pragma once

// The runner's resident memory over a run of a million notifications.
namespace MemoryBench {

inline constexpr const char* kName = "memory/runner";
// Counters, in KiB.
inline constexpr const char* kResidentAfterFirst = "rss_after_first_KiB";
inline constexpr const char* kPeakAtEnd = "peak_at_end_KiB";
inline constexpr const char* kResidentAtEnd = "rss_at_end_KiB";
inline constexpr int kFirst = 1000;
inline constexpr int kNotifications = 1000000;

void registerAll();

} // namespace MemoryBench
