// SPDX-License-Identifier: Apache-2.0
#include "run/host_name.h"

#include <unistd.h>

namespace reburn3::run {

std::string hostName() {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0) {
        return {};
    }
    return buf;
}

}  // namespace reburn3::run
