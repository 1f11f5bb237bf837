// SPDX-License-Identifier: Apache-2.0
#include "serial/port_map.h"

#include <cctype>

namespace reburn3 {

std::string portEnvironmentVariable(int port) {
    return "ORX716_COM" + std::to_string(port);
}

std::optional<int> parseComName(std::string_view name) {
    if (name.size() != 4) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < 3; ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (std::toupper(c) != "COM"[i]) {
            return std::nullopt;
        }
    }
    const char digit = name[3];
    if (digit < '1' || digit > '8') {
        return std::nullopt;
    }
    return digit - '0';
}

}  // namespace reburn3
