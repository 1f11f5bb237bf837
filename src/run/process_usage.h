// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace reburn3::run {

// The CPU time the process has used so far and its peak resident memory, from the system
// (process_usage_posix.cpp, process_usage_windows.cpp).
struct CpuTimes {
    double user = 0;
    double sys = 0;
    long maxRssKb = 0;
};

CpuTimes cpuNow();

}  // namespace reburn3::run
