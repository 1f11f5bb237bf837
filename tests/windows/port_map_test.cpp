// SPDX-License-Identifier: Apache-2.0
// The COMn map on Windows: port n is the system's COMn whatever the environment says.
#include <gtest/gtest.h>

#include <cstdlib>

#include "serial/port_map.h"

namespace reburn3::testing {
namespace {

TEST(WindowsPortMap, PortNIsComNAndTheEnvironmentIsNotAsked) {
    ASSERT_EQ(_putenv("ORX716_COM3=C:\\not-a-port"), 0);
    for (int port = 1; port <= 8; ++port) {
        EXPECT_EQ(portDevice(port), "COM" + std::to_string(port));
        EXPECT_EQ(portDeviceSource(port), "");
    }
    EXPECT_EQ(portDevice(0), "");
    EXPECT_EQ(portDevice(9), "");
    EXPECT_EQ(parseComName("com8"), 8);
    EXPECT_EQ(parseComName("COM9"), std::nullopt);
}

}  // namespace
}  // namespace reburn3::testing
