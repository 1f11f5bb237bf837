#include "app/clock.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace reburn3 {

std::string SystemClock::timeOfDay() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm local{};
    localtime_r(&now, &local);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
    return buf;
}

}  // namespace reburn3
