// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

namespace reburn3::run {

// Why the script cannot be read, in the system's words ("No such file or directory",
// "Permission denied", "Is a directory", "File name too long", or that it is not a regular
// file); empty when it can.
std::string scriptOpenProblem(const std::string& path);

}  // namespace reburn3::run
