#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// A program started with posix_spawn, the cheapest start there is, so that a start-up figure
// holds as little of the benchmark's own cost as possible. A child still running when its object
// goes is killed and reaped.
class ChildProcess
{
public:
    struct Options
    {
        std::vector<std::string> arguments;
        // Added to, or replacing, the benchmark's own environment: "NAME=value".
        std::vector<std::string> environment;
        int stdoutFd = -1; // -1: /dev/null
        std::string stderrPath = "/dev/null";
    };

    ChildProcess(const std::string& program, const Options& options);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return m_pid > 0; }
    pid_t pid() const { return m_pid; }
    // Taken just before the spawn.
    std::chrono::steady_clock::time_point startedAt() const { return m_startedAt; }
    // The exit status, or nothing when the child has not ended in time or did not exit normally.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout);

private:
    pid_t m_pid = -1;
    std::chrono::steady_clock::time_point m_startedAt;
    bool m_reaped = false;
};
