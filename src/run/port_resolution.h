// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <string_view>

#include "serial/port_target.h"

namespace reburn3::run {

// Resolves a parsed port now: the device it opens (COMn: the device of the COMn map;
// anything else: its text as resolvePortPath takes it), its name in lines and its COM
// slot. A board named by identity is found by the command before anything starts
// (resolveIdentity), which names the port by its device from then on.
PortTarget resolvePort(PortTarget target);
// Parses and resolves `text`.
PortTarget resolvePort(std::string_view text);

// The device the port named `text` opens now.
std::string deviceOf(std::string_view text);

}  // namespace reburn3::run
