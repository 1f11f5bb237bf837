// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string_view>

namespace reburn3::cli {

// The lines of `flash --help` that differ between the systems: what ends a run (signals,
// or the console's events) and how COMn maps to a device (flash_system_help_*.cpp).
std::string_view flashSystemHelp();

}  // namespace reburn3::cli
