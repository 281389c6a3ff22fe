#pragma once

#include <QtGlobal>
#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>

// What the benchmarks read of a runner while it runs: the kernel's figures of the process, and
// whether it has gone back to waiting.
namespace RunnerProcess {

inline constexpr std::chrono::milliseconds kTimeout(60000);

// The number on the line `name` of /proc/<pid>/status ("VmRSS:", "voluntary_ctxt_switches:",
// ...); -1 when there is none.
qint64 statusField(pid_t pid, const std::string& name);
// True once the runner has taken every byte that `fd` sent it off the socket and gone back to
// waiting in its event loop.
bool waitUntilIdle(int fd, pid_t pid);
// When `text` was first seen in the log at `path`, to within a millisecond; nothing if it did
// not appear in time. The search starts near the end of the log as it is at the call, so `text`
// must come after the call or among the last lines before it.
std::optional<std::chrono::steady_clock::time_point> waitForText(const std::string& path,
                                                                 const std::string& text);

} // namespace RunnerProcess
