// SPDX-License-Identifier: Apache-2.0
#include "run/port_resolution.h"

#include "run/port_path.h"
#include "run/verdict.h"
#include "serial/port_map.h"

namespace reburn3::run {

PortTarget resolvePort(PortTarget target) {
    // Anything but a COM name is opened as a path, as the serial port library would take
    // the name ("ttyUSB0" is /dev/ttyUSB0).
    target.device =
        target.kind == PortKind::Com ? portDevice(target.com) : resolvePortPath(target.text);
    target.slot = target.kind == PortKind::Com ? static_cast<std::int16_t>(target.com) : kPathSlot;
    target.display = displayName(target.text);
    target.resolved = true;
    return target;
}

PortTarget resolvePort(std::string_view text) {
    return resolvePort(parsePortTarget(text));
}

std::string deviceOf(std::string_view text) {
    return resolvePort(text).device;
}

}  // namespace reburn3::run
