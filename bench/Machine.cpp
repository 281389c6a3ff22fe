#include "Machine.h"

#include <QtGlobal>
#include <fstream>
#include <google/protobuf/stubs/common.h>
#include <sched.h>

namespace Machine {

namespace {
const char* const kModelKey = "model name";
constexpr int kVersionStep = 1000;
} // namespace

int cores()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    return sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 0;
}

std::string cpuModel()
{
    std::ifstream info("/proc/cpuinfo");
    std::string line;
    while (std::getline(info, line)) {
        const size_t colon = line.find(':');
        if (line.rfind(kModelKey, 0) == 0 && colon != std::string::npos) {
            return line.substr(line.find_first_not_of(' ', colon + 1));
        }
    }
    return "unknown";
}

std::string loadAverage()
{
    std::ifstream loadavg("/proc/loadavg");
    std::string one;
    std::string five;
    std::string fifteen;
    loadavg >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

std::string toolchain()
{
    const int protobuf = GOOGLE_PROTOBUF_VERSION;
    return std::string("Qt ") + qVersion() + ", protobuf " +
           std::to_string(protobuf / kVersionStep / kVersionStep) + "." +
           std::to_string(protobuf / kVersionStep % kVersionStep) + "." +
           std::to_string(protobuf % kVersionStep) + ", GCC " + __VERSION__;
}

} // namespace Machine
