#pragma once

#include <QTemporaryDir>
#include <string>
#include <vector>

// A private home for runs of the runner: its settings, holding a custom scheduled scan of one
// temporary directory, its runtime directory, and room for the daemons' sockets.
class TemporarySchedule
{
public:
    TemporarySchedule();

    bool isValid() const { return m_valid; }
    std::string path(const char* name) const;
    // The directory the schedule scans.
    std::string target() const { return path(kTarget); }
    // Where the daemons' stand-ins listen.
    std::string configdSocket() const { return path(kConfigdSocket); }
    std::string fcSocket() const { return path(kFcSocket); }
    // What the runner needs on top of the benchmark's environment.
    std::vector<std::string> environment() const;

private:
    static constexpr const char* kTarget = "target";
    static constexpr const char* kConfigdSocket = "configd";
    static constexpr const char* kFcSocket = "fc";

    QTemporaryDir m_dir;
    QTemporaryDir m_runtime;
    bool m_valid = false;
};
