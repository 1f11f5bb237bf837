// SPDX-License-Identifier: Apache-2.0
#include "sim/precise_wakeups.h"

namespace reburn3::sim {

// Elsewhere the system's own precision has to do.
void askForPreciseWakeups() {}

}  // namespace reburn3::sim
