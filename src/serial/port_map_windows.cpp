// SPDX-License-Identifier: Apache-2.0
// The COMn map on Windows: port n is the system's own "COMn"; no variable changes it.
#include "serial/port_map.h"

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

}  // namespace reburn3
