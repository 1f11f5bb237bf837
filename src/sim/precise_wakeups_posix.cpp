// SPDX-License-Identifier: Apache-2.0
#include <sys/prctl.h>

#include "sim/precise_wakeups.h"

namespace reburn3::sim {

void askForPreciseWakeups() {
    // Linux may otherwise defer a timed wake-up by up to 50 us (the timer slack).
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}

}  // namespace reburn3::sim
