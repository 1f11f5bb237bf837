// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

namespace reburn3::run {

// The machine's name, for the records of a download; empty when the system tells none.
std::string hostName();

}  // namespace reburn3::run
