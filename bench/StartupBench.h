#pragma once

// The runner's time from its start to the scan request, against an empty Qt program's start plus
// the same exchange made over plain sockets.
namespace StartupBench {

inline constexpr const char* kRunner = "startup/runner";
inline constexpr const char* kEmptyApp = "startup/empty QCoreApplication";
inline constexpr const char* kPosixClient = "startup/POSIX client exchange";
inline constexpr int kRuns = 20;

void registerAll();

} // namespace StartupBench
