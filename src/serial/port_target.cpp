// SPDX-License-Identifier: Apache-2.0
#include "serial/port_target.h"

#include <cctype>

#include "serial/port_map.h"

namespace reburn3 {

namespace {

constexpr std::string_view kSerialPrefix = "serial=";

bool blank(std::string_view text) {
    for (const char c : text) {
        if (std::isspace(static_cast<unsigned char>(c)) == 0) {
            return false;
        }
    }
    return true;
}

// "COM" in any case, then anything but a path: a port number the map does not have.
bool mistypedCom(std::string_view text) {
    if (text.size() < 3 || text.find('/') != std::string_view::npos) {
        return false;
    }
    for (std::size_t i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(text[i])) != "COM"[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool namesAnIdentity(std::string_view text) {
    if (parseComName(text).has_value()) {
        return false;
    }
    return text.substr(0, kSerialPrefix.size()) == kSerialPrefix ||
           text.find_first_of("*?[") != std::string_view::npos;
}

PortTarget parsePortTarget(std::string_view text) {
    PortTarget target;
    target.text = std::string(text);
    if (blank(text)) {
        target.kind = PortKind::None;
    } else if (const std::optional<int> com = parseComName(text)) {
        target.kind = PortKind::Com;
        target.com = *com;
        target.slot = static_cast<std::int16_t>(*com);
    } else if (mistypedCom(text)) {
        target.kind = PortKind::BadCom;
    } else if (namesAnIdentity(text)) {
        target.kind = PortKind::Identity;
    } else {
        target.kind = PortKind::Path;
    }
    return target;
}

}  // namespace reburn3
