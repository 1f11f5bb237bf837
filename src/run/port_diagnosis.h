// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

namespace reburn3::run {

// Why `device` (what the --port value `port` resolved to) could not be opened with the
// driver's `code`, told from the system for the operator: how a COM name was mapped when
// the device is missing, the group the device belongs to when permission is denied, and
// the process holding it when it is in use. Empty when the system says nothing more.
std::string diagnosePort(const std::string& port, const std::string& device, int code);

// The process that holds a lock on `device` (flock, or a UUCP lock file), else one that
// has it open, as "PID 1234 (minicom)"; empty when none is found. `self` is left out.
std::string portHolder(const std::string& device, int self);

// True while another process holds a lock on `device` (flock, or a UUCP lock file as Qt
// and other serial programs leave them): the driver's open would find it in use.
bool portLocked(const std::string& device);

}  // namespace reburn3::run
