// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace reburn3::sim {

// Asks the system to wake the calling thread as close to its deadlines as it can: a
// paced line times bytes of 87 us (115200 baud), and a wake-up deferred to group it
// with others would be a good part of one.
void askForPreciseWakeups();

}  // namespace reburn3::sim
