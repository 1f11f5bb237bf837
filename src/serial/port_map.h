// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace reburn3 {

// The program numbers its ports 1 to 8. On Windows port n is the device "COMn". Elsewhere
// the environment variable ORX716_COMn, when set and not empty, names the device (a USB
// adapter such as /dev/ttyUSB0, or a pseudo-terminal), else port n is /dev/ttyS<n-1>.
inline constexpr int kFirstMappedPort = 1;
inline constexpr int kLastMappedPort = 8;

// "ORX716_COM3" for port 3.
std::string portEnvironmentVariable(int port);

// The device that port `port` stands for, as described above. Empty for a number
// outside 1 to 8.
std::string portDevice(int port);

// Where the device of `port` comes from, for listings: "ORX716_COM3" when the
// environment variable decides, else empty.
std::string portDeviceSource(int port);

// How the listing of `reburn3 ports` heads the map: the rule that maps COMn here.
std::string_view portMapRule();

// Whether the device of a port is there now (a device file, or a COM port Windows knows).
bool portDevicePresent(const std::string& device);

// The port number of a name such as "COM3" or "com3" (1 to 8), or nullopt when the text is
// not such a name.
std::optional<int> parseComName(std::string_view name);

}  // namespace reburn3
