#include "ChildProcess.h"

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

constexpr auto kReapPoll = std::chrono::milliseconds(1);
constexpr int kStdout = 1;
constexpr int kStderr = 2;

std::string variableName(const std::string& entry)
{
    return entry.substr(0, entry.find('='));
}

std::vector<std::string> environmentWith(const std::vector<std::string>& overrides)
{
    std::vector<std::string> result;
    for (char** entry = environ; *entry; ++entry) {
        const std::string name = variableName(*entry);
        bool replaced = false;
        for (const std::string& added : overrides) {
            replaced = replaced || variableName(added) == name;
        }
        if (!replaced) {
            result.emplace_back(*entry);
        }
    }
    result.insert(result.end(), overrides.begin(), overrides.end());
    return result;
}

std::vector<char*> pointersTo(std::vector<std::string>& strings)
{
    std::vector<char*> pointers;
    pointers.reserve(strings.size() + 1);
    for (std::string& s : strings) {
        pointers.push_back(s.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

ChildProcess::ChildProcess(const std::string& program, const Options& options)
{
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), options.arguments.begin(), options.arguments.end());
    std::vector<std::string> envp = environmentWith(options.environment);
    // Built before the clock starts: a start-up figure begins with the spawn itself.
    const std::vector<char*> argPointers = pointersTo(argv);
    const std::vector<char*> envPointers = pointersTo(envp);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (options.stdoutFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, options.stdoutFd, kStdout);
    } else {
        posix_spawn_file_actions_addopen(&actions, kStdout, "/dev/null", O_WRONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, kStderr, options.stderrPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    m_startedAt = std::chrono::steady_clock::now();
    if (posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argPointers.data(),
                    envPointers.data()) != 0) {
        m_pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
}

ChildProcess::~ChildProcess()
{
    if (started() && !m_reaped) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
}

std::optional<int> ChildProcess::waitForExit(std::chrono::milliseconds timeout)
{
    if (!started() || m_reaped) {
        return std::nullopt;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_reaped = true;
            return WIFEXITED(status) ? std::optional<int>(WEXITSTATUS(status)) : std::nullopt;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(kReapPoll);
    }
}
