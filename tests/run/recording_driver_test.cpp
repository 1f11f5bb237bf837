// SPDX-License-Identifier: Apache-2.0
// The recording driver behind --trace and the byte counts.

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "fakes/fake_serial_driver.h"
#include "run/recording_driver.h"

namespace reburn3::run {
namespace {

TEST(RecordingDriver, NotesEveryByteWithItsTickAndPassesEverythingOn) {
    testing::FakeSerialDriver inner;
    RecordingDriver driver(inner);
    std::uint64_t tick = 7;
    driver.setTickSource([&] { return tick; });

    EXPECT_EQ(driver.PutByte(1, 0xE1), 0);
    tick = 8;
    EXPECT_EQ(driver.PutByte(1, 0x94), 0);
    inner.receive({0x91, 0x26});
    tick = 9;
    EXPECT_EQ(driver.IsReceiveBufferEmpty(1), 0);
    EXPECT_EQ(driver.GetByte(1), 0x91);
    EXPECT_EQ(driver.GetByte(1), 0x26);
    // A refused byte did not cross the line.
    inner.failWith("PutByte", 30);
    EXPECT_EQ(driver.PutByte(1, 0x55), 30);

    EXPECT_EQ(inner.written(), (std::vector<std::uint8_t>{0xE1, 0x94}));
    EXPECT_EQ(driver.sentCount(), 2U);
    EXPECT_EQ(driver.receivedCount(), 2U);
    EXPECT_EQ(driver.traceText(),
              "# tick direction byte (TX: to the device, RX: from it; ticks of 5 ms)\n"
              "7 TX E1\n8 TX 94\n9 RX 91\n9 RX 26\n");
    EXPECT_FALSE(driver.writeTrace("/nonexistent-dir/trace.txt"));
}

// Without a trace to write, a download of any length must not keep its bytes.
TEST(RecordingDriver, OnlyCountsWhenTheBytesAreNotKept) {
    testing::FakeSerialDriver inner;
    RecordingDriver driver(inner);
    driver.setKeepBytes(false);
    EXPECT_EQ(driver.PutByte(1, 0xE1), 0);
    inner.receive({0x91});
    EXPECT_EQ(driver.GetByte(1), 0x91);
    EXPECT_EQ(driver.GetByte(1), -1);
    EXPECT_EQ(driver.sentCount(), 1U);
    EXPECT_EQ(driver.receivedCount(), 1U);
    EXPECT_TRUE(driver.bytes().empty());
}

}  // namespace
}  // namespace reburn3::run
