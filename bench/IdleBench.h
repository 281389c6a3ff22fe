#pragma once

// How often the runner wakes up while the file-check daemon is silent during a scan.
namespace IdleBench {

inline constexpr const char* kName = "idle/runner";
// Counter: voluntary context switches of the runner over the silence.
inline constexpr const char* kWakeUps = "wake_ups";
inline constexpr int kSilenceSeconds = 20;

void registerAll();

} // namespace IdleBench
