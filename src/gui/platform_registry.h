// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>

#include "gui/sys_info.h"

namespace reburn3 {

// The registry of the platform the program runs on: the Windows registry through its
// single-byte-character calls, or, where there is none, a registry in which every key is
// missing (so "System Info..." reports the program unavailable).
std::unique_ptr<Registry> platformRegistry();

}  // namespace reburn3
