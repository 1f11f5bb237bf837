// SPDX-License-Identifier: Apache-2.0
#include "base/local_time.h"

namespace reburn3 {

std::tm localTimeOf(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    return local;
}

}  // namespace reburn3
