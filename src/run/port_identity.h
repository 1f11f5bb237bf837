// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace reburn3::run {

// A --port value that names a board by identity rather than by device: `serial=S`, a USB
// serial number (glob characters allowed), or a name pattern with *, ? or [ matched
// against /dev/serial/by-id and /dev/serial/by-path (or, with a '/', against the file
// system). Such a name survives re-enumeration; a device path does not.
bool namesByIdentity(const std::string& port);

// The one device `port` names by identity: a /dev/serial link where there is one (it
// keeps its name across re-enumeration), else the device itself. Nothing when no device
// or several match; `error` then says so and names the candidates.
std::optional<std::string> resolveIdentity(const std::string& port, std::string& error);

// The device of the one name that matched `port`, or nothing with `error` saying that no
// device or several matched (and naming them): what each system's resolveIdentity ends in.
std::optional<std::string> theOneMatch(const std::vector<std::string>& names,
                                       const std::string& port, std::string& error);

}  // namespace reburn3::run
