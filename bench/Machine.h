#pragma once

#include <string>

// What the figures were measured on, for the report.
namespace Machine {

// Processors this process may run on, as nproc counts them.
int cores();
std::string cpuModel();
// The 1, 5 and 15 minute load averages.
std::string loadAverage();
std::string toolchain();

} // namespace Machine
