// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the benchmarks share: the machine named in their figures and the
// steady clock's milliseconds.

#include <chrono>
#include <fstream>
#include <string>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double msBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

// The processor's model name, as /proc/cpuinfo gives it.
inline std::string cpuModel() {
    std::ifstream in("/proc/cpuinfo");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
    return "unknown";
}

}  // namespace bench
