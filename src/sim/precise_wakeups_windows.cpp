// SPDX-License-Identifier: Apache-2.0
#include "sim/precise_wakeups.h"

namespace reburn3::sim {

// Windows wakes a waiting thread at its own precision; there is nothing to ask for.
void askForPreciseWakeups() {}

}  // namespace reburn3::sim
