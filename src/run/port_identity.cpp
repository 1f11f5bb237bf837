// SPDX-License-Identifier: Apache-2.0
#include "run/port_identity.h"

namespace reburn3::run {

std::optional<std::string> theOneMatch(const std::vector<std::string>& names,
                                       const std::string& port, std::string& error) {
    if (names.size() == 1) {
        return names.front();
    }
    if (names.empty()) {
        error = "no serial device matches " + port + "; `reburn3 ports` lists the ports";
        return std::nullopt;
    }
    error = std::to_string(names.size()) + " devices match " + port + ":";
    for (const std::string& name : names) {
        error += " " + name;
    }
    error += "; give one";
    return std::nullopt;
}

}  // namespace reburn3::run
