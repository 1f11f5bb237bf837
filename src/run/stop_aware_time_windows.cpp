// SPDX-License-Identifier: Apache-2.0
#include "run/stop_aware_time.h"

namespace reburn3::run {

// A Windows process is not stopped and continued by signals.
std::uint64_t continuesSoFar() {
    return 0;
}

}  // namespace reburn3::run
