// SPDX-License-Identifier: Apache-2.0
#include "run/process_usage.h"

// clang-format off
#include <windows.h>
#include <psapi.h>
// clang-format on

namespace reburn3::run {

namespace {

// A FILETIME of a duration counts 100 ns units.
double seconds(const FILETIME& time) {
    const ULONGLONG units =
        (static_cast<ULONGLONG>(time.dwHighDateTime) << 32U) | time.dwLowDateTime;
    return static_cast<double>(units) / 1e7;
}

}  // namespace

CpuTimes cpuNow() {
    CpuTimes times;
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    if (GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) {
        times.user = seconds(user);
        times.sys = seconds(kernel);
    }
    // The peak working set is what Windows calls the resident memory.
    PROCESS_MEMORY_COUNTERS memory{};
    if (GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory)) {
        times.maxRssKb = static_cast<long>(memory.PeakWorkingSetSize / 1024U);
    }
    return times;
}

}  // namespace reburn3::run
