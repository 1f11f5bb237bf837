// SPDX-License-Identifier: Apache-2.0
#include "run/process_usage.h"

#include <sys/resource.h>

namespace reburn3::run {

namespace {

double seconds(const timeval& tv) {
    return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6;
}

}  // namespace

CpuTimes cpuNow() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return {seconds(usage.ru_utime), seconds(usage.ru_stime), usage.ru_maxrss};
}

}  // namespace reburn3::run
