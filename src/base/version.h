// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <string_view>

namespace reburn3 {

// The program's version, "1.0.0".
std::string_view programVersion();

// The commit the program was built from ("abc1234", "abc1234-dirty"), or empty when it was
// not built from a git checkout.
std::string_view buildCommit();

// What `--version` prints: "reburn3 1.0.0 (commit abc1234) Qt 6.4.2". The commit part is
// left out when unknown, the Qt part when qtVersion is empty.
std::string versionLine(std::string_view program, std::string_view qtVersion);

}  // namespace reburn3
