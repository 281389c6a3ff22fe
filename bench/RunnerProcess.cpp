#include "RunnerProcess.h"

#include <fcntl.h>
#include <fstream>
#include <linux/sockios.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace RunnerProcess {

namespace {

constexpr std::chrono::milliseconds kIdlePoll(20);
// Short beside a run of a second or more; the polls are a few system calls each.
constexpr std::chrono::milliseconds kTextPoll(1);
constexpr size_t kReadChunk = size_t(64) * 1024;

// The state letter of /proc/<pid>/stat: 'S' while the runner waits in its event loop.
char stateOf(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t nameEnd = all.rfind(')');
    return nameEnd != std::string::npos && nameEnd + 2 < all.size() ? all[nameEnd + 2] : '?';
}

} // namespace

qint64 statusField(pid_t pid, const std::string& name)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        std::istringstream fields(line);
        std::string field;
        qint64 value = -1;
        fields >> field >> value;
        if (field == name) {
            return value;
        }
    }
    return -1;
}

bool waitUntilIdle(int fd, pid_t pid)
{
    const auto deadline = std::chrono::steady_clock::now() + kTimeout;
    int idleSamples = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        int queued = -1;
        const bool drained = ::ioctl(fd, SIOCOUTQ, &queued) == 0 && queued == 0;
        idleSamples = drained && stateOf(pid) == 'S' ? idleSamples + 1 : 0;
        // Two samples apart: a single one may catch the runner between two reads.
        if (idleSamples == 2) {
            return true;
        }
        std::this_thread::sleep_for(kIdlePoll);
    }
    return false;
}

std::optional<std::chrono::steady_clock::time_point> waitForText(const std::string& path,
                                                                 const std::string& text)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    // A log full of threat lines would otherwise be read whole while the runner still writes.
    struct stat status;
    if (::fstat(fd, &status) == 0 && status.st_size > off_t(kReadChunk)) {
        ::lseek(fd, status.st_size - off_t(kReadChunk), SEEK_SET);
    }
    const auto deadline = std::chrono::steady_clock::now() + kTimeout;
    // Only the bytes since the last poll are searched, with enough of the earlier ones before
    // them to hold a `text` that was written in two pieces.
    std::string window;
    std::optional<std::chrono::steady_clock::time_point> seen;
    while (!seen && std::chrono::steady_clock::now() < deadline) {
        char chunk[kReadChunk];
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got > 0) {
            window.append(chunk, size_t(got));
            if (window.find(text) != std::string::npos) {
                seen = std::chrono::steady_clock::now();
            } else if (window.size() >= text.size()) {
                window.erase(0, window.size() - text.size() + 1);
            }
            continue;
        }
        std::this_thread::sleep_for(kTextPoll);
    }
    ::close(fd);
    return seen;
}

} // namespace RunnerProcess
