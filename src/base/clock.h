// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

namespace reburn3 {

// The time of day as the program shows it: "HH:mm:ss".
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::string timeOfDay() = 0;
};

// The local time of day from the system.
class SystemClock final : public Clock {
public:
    std::string timeOfDay() override;
};

}  // namespace reburn3
