// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>

namespace reburn3 {

// What the operating system can tell about an open serial device's descriptor, beyond what
// QSerialPort reports. One implementation per platform, chosen by the build.

// Bytes the system has taken for sending that have not left on the line yet (the kernel's
// output queue); 0 when the system cannot tell.
std::int64_t systemOutputQueue(std::intptr_t handle);

// The system's error number of the latest failed call on this thread (errno, or
// GetLastError on Windows).
int lastSystemError();

// True when the device behind the descriptor is gone for good (hung up, unplugged, closed at
// the far end). `lastError` is the system error number seen by the failed call, or 0. A read
// that found nothing or a write that had to wait is no loss.
bool deviceGone(std::intptr_t handle, int lastError);

// Why this process may not open `device`, and what would let it, as the device's owner,
// group and mode say: "it belongs to the group dialout: add the user to it (sudo adduser
// $USER dialout) and log in again", or, for a device open to its owner only, "... ask for
// access to it". Empty when the system cannot tell (no such file; Windows). The one
// diagnosis of a refused port: the driver's reason and the command line's verdict both
// give it.
std::string permissionDiagnosis(const std::string& device);

}  // namespace reburn3
