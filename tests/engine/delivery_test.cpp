// SPDX-License-Identifier: Apache-2.0
// A download is complete only when the device has every byte: queued bytes are a promise,
// not a delivery. These runs go through a port whose output side is as hard as a real one.

#include <string>

#include "base/messages.h"
#include "support/test_fixture.h"

namespace reburn3::testing {
namespace {

// A script that ends with a large group of T records and no R record after it: its last
// bytes are still in the port when the reader reaches the end.
std::string trailingGroupScript(int count) {
    std::string records = "T5A R91 E";
    for (int i = 0; i < count; ++i) {
        records += " T" + std::string(1, "0123456789ABCDEF"[(i >> 4) & 15]) +
                   std::string(1, "0123456789ABCDEF"[i & 15]);
    }
    return scriptOf(records + " E");
}

std::vector<std::uint8_t> expectedBytes(int count) {
    std::vector<std::uint8_t> bytes{0xE1, 0x94, 0x5A};
    for (int i = 0; i < count; ++i) {
        bytes.push_back(static_cast<std::uint8_t>(i & 0xFF));
    }
    return bytes;
}

class DeliveryTest : public CoreTest {
protected:
    // The device answers the handshake and the one R record as soon as it has the bytes.
    void answerLikeADevice() {
        driver.onByteWritten = [this](std::uint8_t b) {
            ++m_seen;
            if (b == 0x94 && m_seen == 2) {
                driver.receive({0x91, 0x26});
            }
            if (m_seen == 3) {
                driver.receive({0x91});
            }
        };
    }
    // Ticks to the end of the run; at every tick, the completion line may only stand when
    // the device has every byte.
    void runCheckingCompletion(std::size_t total) {
        for (int n = 0; S.ProgramMode != 0 && n < 100000; ++n) {
            tick();
            if (!status().empty() && status().back() == text::kProcessingComplete) {
                ASSERT_EQ(driver.written().size(), total) << "complete before delivery";
            }
        }
        ASSERT_EQ(S.ProgramMode, 0);
    }
    std::size_t m_seen = 0;
};

struct PortCase {
    const char* name;
    FakeSerialDriver::Output output;
};

class DeliveryOverPortTest : public DeliveryTest, public ::testing::WithParamInterface<PortCase> {};

TEST_P(DeliveryOverPortTest, CompletesOnlyOnceTheDeviceHasEveryByte) {
    constexpr int kGroup = 3000;
    driver.setOutput(GetParam().output);
    answerLikeADevice();
    startWithScript(trailingGroupScript(kGroup));
    form.ProgramFlash_Click();
    runCheckingCompletion(expectedBytes(kGroup).size());
    EXPECT_EQ(form.engine().outcome(), RunOutcome::Completed);
    EXPECT_EQ(driver.written(), expectedBytes(kGroup));
    EXPECT_EQ(status().back(), text::kProcessingComplete);
    EXPECT_EQ(driver.unsent(), 0U);
}

INSTANTIATE_TEST_SUITE_P(
    Ports, DeliveryOverPortTest,
    ::testing::Values(
        // A UART: a 4 KiB kernel buffer, 57 bytes a tick at 115200 baud.
        PortCase{"Uart", {4096, 57, 0}},
        // A small buffer that takes part of every write and refuses every second push.
        PortCase{"PartialWritesAndEagain", {64, 200, 2}},
        // A tiny buffer, refilled only between ticks and by the delivery count, with every
        // third push refused: the line waits on the program.
        PortCase{"TinyBuffer", {16, 60, 3}}),
    [](const auto& portCase) { return std::string(portCase.param.name); });

TEST_F(DeliveryTest, ALineThatSendsNothingFailsTheRunAfterItsTimeAndNeverCompletes) {
    constexpr int kGroup = 600;
    driver.setOutput({256, 57, 0});
    answerLikeADevice();
    startWithScript(trailingGroupScript(kGroup));
    form.ProgramFlash_Click();
    // Let the handshake and the first group through, then the line stops.
    while (S.ProgramMode != 1 || driver.written().size() < 3) {
        tick();
    }
    driver.stopLine(true);
    const std::size_t before = driver.written().size();
    const int n = runToEnd();
    EXPECT_EQ(form.engine().outcome(), RunOutcome::LinkFailed);
    EXPECT_FALSE(statusHas(std::string(text::kProcessingComplete)));
    EXPECT_EQ(driver.written().size(), before);
    // The wait is the time the unsent bytes need on the line, plus one second.
    EXPECT_GE(n, 200);
    EXPECT_LE(n, 200 + 20 + 2);
    // The time-out drops the rest at once, and says so: the verdict does not wait for a
    // port that sends nothing.
    const std::string timeout = std::string(text::kWriteTimeout);
    ASSERT_GE(debug().size(), 3U);
    const std::string& line = debug()[debug().size() - 3];
    EXPECT_EQ(line.rfind(timeout, 0), 0U) << line;
    const std::string unsent = line.substr(timeout.size());
    EXPECT_EQ(debug()[debug().size() - 2],
              std::string(text::kDiscardedPrefix) + unsent + std::string(text::kDiscardedSuffix));
    EXPECT_EQ(debug().back().rfind(text::kStopTime, 0), 0U);
    EXPECT_EQ(std::to_string(driver.discarded()), unsent);
    EXPECT_EQ(driver.unsent(), 0U);
}

TEST_F(DeliveryTest, AbortWhileBytesAreQueuedDropsThemAndSaysHowMany) {
    constexpr int kGroup = 1000;
    driver.setOutput({128, 10, 0});
    answerLikeADevice();
    startWithScript(trailingGroupScript(kGroup));
    form.ProgramFlash_Click();
    while (!form.engine().draining() && S.ProgramMode != 0) {
        tick();
    }
    ASSERT_TRUE(form.engine().draining());
    tick();
    const std::size_t unsent = driver.unsent();
    ASSERT_GT(unsent, 0U);
    form.ProgramFlash_Click();  // "Abort Process"
    EXPECT_EQ(S.ProgramMode, 0);
    EXPECT_EQ(form.engine().outcome(), RunOutcome::Aborted);
    EXPECT_TRUE(debugHas(std::string(text::kDiscardedPrefix) + std::to_string(unsent) +
                         std::string(text::kDiscardedSuffix)));
    EXPECT_FALSE(statusHas(std::string(text::kProcessingComplete)));
    const std::size_t delivered = driver.written().size();
    ticks(100);
    EXPECT_EQ(driver.written().size(), delivered) << "the device got bytes after the abort";
}

TEST_F(DeliveryTest, ClosingThePortWithBytesQueuedSaysSo) {
    driver.setOutput({8, 1, 0});
    answerLikeADevice();
    startWithScript(trailingGroupScript(50));
    form.ProgramFlash_Click();
    while (!form.engine().draining() && S.ProgramMode != 0) {
        tick();
    }
    const std::size_t unsent = driver.unsent();
    ASSERT_GT(unsent, 0U);
    form.AbortProgram_Click();  // "Exit / Abort" between ticks
    EXPECT_TRUE(debugHas(std::string(text::kDiscardedPrefix) + std::to_string(unsent) +
                         std::string(text::kDiscardedSuffix)));
    EXPECT_EQ(driver.discarded(), unsent);
}

// A device that goes away is a loss whatever the step it interrupts: the outcome says so
// and never that the device failed the run.
class LossTest : public DeliveryTest, public ::testing::WithParamInterface<int> {};

TEST_P(LossTest, ALostDeviceIsReportedAsLost) {
    driver.setOutput({4096, 57, 0});
    answerLikeADevice();
    startWithScript(trailingGroupScript(2000));
    form.ProgramFlash_Click();
    ticks(GetParam());
    driver.loseDevice();
    runToEnd();
    EXPECT_EQ(form.engine().outcome(), RunOutcome::DeviceLost);
    EXPECT_FALSE(statusHas(std::string(text::kProcessingComplete)));
}

// Tick 1: sending the handshake; 30: awaiting the reply; 58: the first group is going out
// (the reply's time-out ends at 57); 62: the port is draining the last group; 95: the
// queue has read empty, and the port has not yet stayed alive long enough to complete.
INSTANTIATE_TEST_SUITE_P(AtStep, LossTest, ::testing::Values(1, 30, 58, 62, 95));

TEST_F(DeliveryTest, AnEmptyQueueCompletesOnlyAfterThePortStayedAlive) {
    driver.setOutput({4096, 57, 0});
    answerLikeADevice();
    startWithScript(trailingGroupScript(2000));
    form.ProgramFlash_Click();
    while (!form.engine().draining() || driver.unsent() > 0) {
        tick();
    }
    ticks(Engine::kAliveTicksAfterDrain - 2);
    EXPECT_TRUE(form.engine().draining());
    EXPECT_FALSE(statusHas(std::string(text::kProcessingComplete)));
    ticks(2);
    EXPECT_EQ(form.engine().outcome(), RunOutcome::Completed);
    EXPECT_EQ(form.engine().result().bytesUnacknowledged, 2000U);
}

// Bytes after the last R record on a port that cannot see them leave (a pseudo-terminal):
// the run completes only after their line time (2000 bytes: 35 ticks at 115200) and the
// alive ticks, and says that nothing confirmed them. A port that confirms keeps its time.
class UnansweredBytesTest : public DeliveryTest, public ::testing::WithParamInterface<bool> {};

TEST_P(UnansweredBytesTest, AreGivenTheirLineTimeWhereThePortCannotConfirm) {
    const bool confirms = GetParam();
    driver.setConfirmsDelivery(confirms);
    answerLikeADevice();
    startWithScript(trailingGroupScript(2000));
    form.ProgramFlash_Click();
    for (int i = 0; i < 1000 && !form.engine().draining(); ++i) {
        tick();
    }
    ASSERT_TRUE(form.engine().draining());
    ticks(Engine::kAliveTicksAfterDrain + 10);
    EXPECT_EQ(form.engine().outcome() == RunOutcome::Completed, confirms);
    ticks(30);
    EXPECT_EQ(form.engine().outcome(), RunOutcome::Completed);
    EXPECT_EQ(form.engine().result().deliveryConfirmed, confirms);
    EXPECT_EQ(form.engine().result().bytesUnacknowledged, 2000U);
}

INSTANTIATE_TEST_SUITE_P(PortConfirms, UnansweredBytesTest, ::testing::Bool());

// The device's time to answer starts once it can have the bytes before the R record: a
// long line on a slow port is no time-out, and a silent device still fails after its
// own 54 ticks.
class AnswerWindowTest : public DeliveryTest, public ::testing::WithParamInterface<bool> {};

TEST_P(AnswerWindowTest, CountsFromWhenTheBytesCanHaveCrossed) {
    constexpr int kGroup = 4000;
    const bool answers = GetParam();
    driver.setOutput({4096, 57, 0});
    std::string records = "T5A R91 E";
    for (int i = 0; i < kGroup; ++i) {
        records += " T00";
    }
    startWithScript(scriptOf(records + " R26 E"));
    driver.onByteWritten = [this, answers](std::uint8_t b) {
        ++m_seen;
        if (b == 0x94 && m_seen == 2) {
            driver.receive({0x91, 0x26});
        }
        if (m_seen == 3) {
            driver.receive({0x91});
        }
        if (answers && m_seen == 3 + kGroup) {
            driver.receive({0x26});
        }
    };
    form.ProgramFlash_Click();
    while (driver.written().size() < 3) {
        tick();
    }
    const int n = runToEnd();
    if (answers) {
        EXPECT_EQ(form.engine().outcome(), RunOutcome::Completed);
        return;
    }
    EXPECT_EQ(form.engine().result().reason, RunReason::ReadTimeout);
    const int lineTicks = static_cast<int>(Engine::lineTicks(kGroup));
    EXPECT_GE(n, lineTicks + 54);
    EXPECT_LE(n, lineTicks + 54 + 3);
}

INSTANTIATE_TEST_SUITE_P(Device, AnswerWindowTest, ::testing::Bool());

}  // namespace
}  // namespace reburn3::testing
