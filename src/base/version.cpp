// SPDX-License-Identifier: Apache-2.0
#include "base/version.h"

#include "build_commit.h"
#include "build_version.h"

namespace reburn3 {

std::string_view programVersion() {
    return REBURN3_VERSION;
}

std::string_view buildCommit() {
    return REBURN3_COMMIT;
}

std::string versionLine(std::string_view program, std::string_view qtVersion) {
    std::string line(program);
    line += ' ';
    line += programVersion();
    if (!buildCommit().empty()) {
        line += " (commit ";
        line += buildCommit();
        line += ')';
    }
    if (!qtVersion.empty()) {
        line += " Qt ";
        line += qtVersion;
    }
    return line;
}

}  // namespace reburn3
