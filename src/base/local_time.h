// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <ctime>

namespace reburn3 {

// The local calendar time of `when`, through the platform's thread-safe call.
std::tm localTimeOf(std::time_t when);

}  // namespace reburn3
