// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <vector>

namespace reburn3::testing {

// The lines the status log gets at the end of every run, completed or not, spelled out
// here as the operator reads them: a changed message fails the tests that expect these.
inline std::vector<std::string> closingLines() {
    return {"Completing or Aborting operations.",
            "----------",
            "If aborting, cycle interface power before trying again.",
            "   ",
            "================",
            "   "};
}

}  // namespace reburn3::testing
