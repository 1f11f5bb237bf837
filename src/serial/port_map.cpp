#include "serial/port_map.h"

#include <cctype>
#include <cstdlib>

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

std::string portEnvironmentVariable(int port) {
    return "ORX716_COM" + std::to_string(port);
}

std::string portDevice(int port) {
    if (!inRange(port)) {
        return {};
    }
#ifdef _WIN32
    return "COM" + std::to_string(port);
#else
    std::string fromEnvironment = environmentValue(port);
    if (!fromEnvironment.empty()) {
        return fromEnvironment;
    }
    return "/dev/ttyS" + std::to_string(port - 1);
#endif
}

std::string portDeviceSource(int port) {
#ifdef _WIN32
    (void)port;
    return {};
#else
    if (!inRange(port) || environmentValue(port).empty()) {
        return {};
    }
    return portEnvironmentVariable(port);
#endif
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
