// SPDX-License-Identifier: Apache-2.0
#include "base/clock.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "base/local_time.h"

namespace reburn3 {

std::string SystemClock::timeOfDay() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    const std::tm local = localTimeOf(now);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
    return buf;
}

}  // namespace reburn3
