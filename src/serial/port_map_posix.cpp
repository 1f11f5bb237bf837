// SPDX-License-Identifier: Apache-2.0
// The COMn map where ports are device files: the environment variable ORX716_COMn names
// the device, else COMn is the n-th on-board UART, /dev/ttyS<n-1>.
#include <cstdlib>
#include <filesystem>

#include "serial/port_map.h"

namespace reburn3 {

namespace {

bool inRange(int port) {
    return port >= kFirstMappedPort && port <= kLastMappedPort;
}

std::string environmentValue(int port) {
    const std::string name = portEnvironmentVariable(port);
    const char* value = std::getenv(name.c_str());
    return value != nullptr ? std::string(value) : std::string();
}

}  // namespace

std::string portDevice(int port) {
    if (!inRange(port)) {
        return {};
    }
    std::string fromEnvironment = environmentValue(port);
    if (!fromEnvironment.empty()) {
        return fromEnvironment;
    }
    return "/dev/ttyS" + std::to_string(port - 1);
}

std::string portDeviceSource(int port) {
    if (!inRange(port) || environmentValue(port).empty()) {
        return {};
    }
    return portEnvironmentVariable(port);
}

std::string_view portMapRule() {
    return "ORX716_COMn overrides /dev/ttyS<n-1>";
}

bool portDevicePresent(const std::string& device) {
    std::error_code ec;
    return std::filesystem::exists(device, ec);
}

}  // namespace reburn3
