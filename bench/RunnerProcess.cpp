#include "RunnerProcess.h"

#include <fstream>
#include <linux/sockios.h>
#include <sstream>
#include <sys/ioctl.h>
#include <thread>

namespace RunnerProcess {

namespace {

constexpr std::chrono::milliseconds kIdlePoll(20);

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

} // namespace RunnerProcess
