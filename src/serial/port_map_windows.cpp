// SPDX-License-Identifier: Apache-2.0
// The COMn map on Windows: port n is the system's own "COMn"; no variable changes it.
#include "serial/port_map.h"

#include <windows.h>

namespace reburn3 {

std::string portDevice(int port) {
    if (port < kFirstMappedPort || port > kLastMappedPort) {
        return {};
    }
    return "COM" + std::to_string(port);
}

std::string portDeviceSource(int /*port*/) {
    return {};
}

std::string_view portMapRule() {
    return "the system's own COMn";
}

// A COM port Windows knows has a DOS device name ("COM3" -> \Device\Serial2).
bool portDevicePresent(const std::string& device) {
    char target[512];
    return QueryDosDeviceA(device.c_str(), target, sizeof target) != 0;
}

}  // namespace reburn3
