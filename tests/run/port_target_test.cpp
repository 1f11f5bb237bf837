// SPDX-License-Identifier: Apache-2.0
// The port a user names: read from its text alone, then resolved to a device, a display
// name and a COM slot.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "run/port_resolution.h"
#include "serial/port_target.h"

namespace reburn3 {
namespace {

struct ParseCase {
    const char* text;
    PortKind kind;
    int com;  // the COM number, 0 for none
};

class ParsePort : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParsePort, ReadsTheKindFromTheTextAlone) {
    const ParseCase& c = GetParam();
    const PortTarget target = parsePortTarget(c.text);
    EXPECT_EQ(target.text, c.text) << "the text is kept as given";
    EXPECT_EQ(target.kind, c.kind) << c.text;
    EXPECT_EQ(target.com, c.com) << c.text;
    EXPECT_FALSE(target.resolved);
    EXPECT_EQ(target.device, "") << "parsing looks nothing up";
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParsePort,
    ::testing::Values(
        ParseCase{"COM1", PortKind::Com, 1}, ParseCase{"COM8", PortKind::Com, 8},
        ParseCase{"com3", PortKind::Com, 3}, ParseCase{"cOm5", PortKind::Com, 5},
        ParseCase{"COM0", PortKind::BadCom, 0}, ParseCase{"COM9", PortKind::BadCom, 0},
        ParseCase{"COM12", PortKind::BadCom, 0}, ParseCase{"COM", PortKind::BadCom, 0},
        ParseCase{"COM*", PortKind::BadCom, 0}, ParseCase{"COM1 ", PortKind::BadCom, 0},
        ParseCase{"/dev/ttyUSB0", PortKind::Path, 0}, ParseCase{"ttyUSB0", PortKind::Path, 0},
        ParseCase{"./COM1", PortKind::Path, 0}, ParseCase{"/dev/COM9", PortKind::Path, 0},
        ParseCase{"serial=A10K3Z", PortKind::Identity, 0},
        ParseCase{"serial=A10*", PortKind::Identity, 0},
        ParseCase{"usb-FTDI_*-if00-port0", PortKind::Identity, 0},
        ParseCase{"/dev/serial/by-id/usb-?", PortKind::Identity, 0},
        ParseCase{"", PortKind::None, 0}, ParseCase{"   ", PortKind::None, 0},
        ParseCase{"\t", PortKind::None, 0}));

TEST(ResolvePort, GivesTheDeviceTheDisplayNameAndTheSlot) {
    const std::filesystem::path folder =
        std::filesystem::path(::testing::TempDir()) / ("port_target." + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "ttyFAKE0") << "";
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    ::setenv("ORX716_COM3", "/dev/ttyUSB7", 1);
    ::unsetenv("ORX716_COM2");

    struct Case {
        const char* text;
        std::string device;
        std::int16_t slot;
    };
    const Case cases[] = {
        {"COM3", "/dev/ttyUSB7", 3},  // the COMn map: the environment decides
        {"com2", "/dev/ttyS1", 2},    // else /dev/ttyS<n-1>
        {"/dev/ttyACM0", "/dev/ttyACM0", kPathSlot},
        {"ttyACM0", "/dev/ttyACM0", kPathSlot},                   // a bare name is a device in /dev
        {"ttyFAKE0", (folder / "ttyFAKE0").string(), kPathSlot},  // unless it is here
        {"sub/../ttyFAKE0", (folder / "ttyFAKE0").string(), kPathSlot},
    };
    for (const Case& c : cases) {
        const PortTarget target = run::resolvePort(c.text);
        EXPECT_TRUE(target.resolved) << c.text;
        EXPECT_EQ(target.device, c.device) << c.text;
        EXPECT_EQ(target.slot, c.slot) << c.text;
        EXPECT_EQ(target.display, c.text) << c.text;
        EXPECT_EQ(run::deviceOf(c.text), c.device) << c.text;
    }
    // A control character in the name is shown, never sent to the terminal.
    EXPECT_EQ(run::resolvePort("tty\x1b[2J").display, "tty<1B>[2J");

    ::unsetenv("ORX716_COM3");
    std::filesystem::current_path(before);
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace reburn3
