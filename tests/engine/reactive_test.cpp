// SPDX-License-Identifier: Apache-2.0
// The step between ticks that `flash --reactive` runs when bytes arrive: it must move
// the machine only as the data allows and leave every time-out to the ticks.
#include "support/test_fixture.h"

namespace reburn3::testing {
namespace {

class ReactiveTest : public CoreTest {
protected:
    // Start-up, the script, a good handshake, and ticks until the reader has reached
    // the first record of the script. The device answers the handshake at once and each
    // R record as answerAfter says.
    void startScript(const std::string& records) {
        startWithScript(scriptOf(records));
        driver.onByteWritten = [this](std::uint8_t b) {
            if (b == 0x94) {
                driver.receive({0x91, 0x26});
            } else if (auto it = replies.find(b); it != replies.end()) {
                driver.receive({it->second});
            }
        };
        form.ProgramFlash_Click();
        while (S.ProgramMode >= 101) {
            tick();
        }
    }
    // The device answers `reply` as soon as the T byte `lastTx` has arrived.
    void answerAfter(std::uint8_t lastTx, std::uint8_t reply) { replies[lastTx] = reply; }
    std::map<std::uint8_t, std::uint8_t> replies;
};

TEST_F(ReactiveTest, AnsweredByteIsVerifiedAndTheNextGroupSentWithoutATick) {
    answerAfter(0x02, 0x91);
    answerAfter(0x04, 0x26);
    startScript("T01 T02 R91 E T03 T04 R26 E");
    ASSERT_EQ(S.ProgramMode, 1);
    const std::uint64_t ticksBefore = form.engine().tickCount();
    const std::int16_t timeoutBefore = S.TimeoutCount;

    form.engine().reactiveStep();

    EXPECT_TRUE(form.engine().draining());
    EXPECT_EQ(driver.written(), (std::vector<std::uint8_t>{0xE1, 0x94, 1, 2, 3, 4}));
    EXPECT_EQ(driver.count("ser_rs232_putpacket"), 2);  // one per group, as on ticks
    EXPECT_EQ(form.engine().tickCount(), ticksBefore);
    EXPECT_EQ(S.TimeoutCount, timeoutBefore == 0 ? 54 : timeoutBefore);  // reloaded by R only
    EXPECT_EQ(S.IsrActive, kFalse);
    // Only ticks see the port stay alive after its last byte.
    ticks(Engine::kAliveTicksAfterDrain);
    EXPECT_EQ(form.engine().outcome(), RunOutcome::Completed);
    EXPECT_TRUE(statusHas("Processing complete.  Exit this application."));
}

TEST_F(ReactiveTest, SameBytesAndLinesAsATickDrivenRun) {
    answerAfter(0x20, 0x30);
    startScript("T10 T20 R30 E T40 R50 R60 E T70 E");
    driver.onByteWritten = [this](std::uint8_t b) {
        if (b == 0x20) {
            driver.receive({0x30});
        } else if (b == 0x40) {
            driver.receive({0x50, 0x60});
        }
    };
    while (S.ProgramMode != 0) {
        form.engine().reactiveStep();
        tick();
    }
    EXPECT_EQ(form.engine().outcome(), RunOutcome::Completed);
    EXPECT_EQ(driver.written(), (std::vector<std::uint8_t>{0xE1, 0x94, 0x10, 0x20, 0x40, 0x70}));
    EXPECT_EQ(driver.packetMarks().size(), 3U);
    EXPECT_EQ(statusCount("Processing complete.  Exit this application."), 1U);
    EXPECT_EQ(S.RecordsDone, S.RecordsTotal);
}

TEST_F(ReactiveTest, MissingByteIsNeverATimeOutBetweenTicks) {
    startScript("T01 R42 E");
    form.engine().reactiveStep();  // sends T01, then finds nothing waiting
    ASSERT_EQ(S.ProgramMode, 2);
    S.TimeoutCount = 0;  // even a spent count is judged by the next tick only
    for (int i = 0; i < 100; ++i) {
        form.engine().reactiveStep();
    }
    EXPECT_EQ(S.ProgramMode, 2);
    EXPECT_EQ(form.engine().outcome(), RunOutcome::Running);
    EXPECT_FALSE(debugHas("Error. Read time out."));
    tick();
    EXPECT_EQ(form.engine().outcome(), RunOutcome::DeviceFailed);
    EXPECT_TRUE(debugHas("Error. Read time out."));
}

TEST_F(ReactiveTest, TimeOutStillTakes54TicksWhateverTheStepsBetween) {
    startScript("T01 R42 E");
    tick();  // T01 goes out; R42 read, count loaded
    ASSERT_EQ(S.ProgramMode, 2);
    ASSERT_EQ(S.TimeoutCount, 54);
    int n = 0;
    while (S.ProgramMode != 0 && n < 1000) {
        form.engine().reactiveStep();
        form.engine().reactiveStep();
        tick();
        ++n;
    }
    EXPECT_EQ(n, 54);
    EXPECT_EQ(form.engine().outcome(), RunOutcome::DeviceFailed);
}

TEST_F(ReactiveTest, WrongByteStopsTheRunAsATickWould) {
    answerAfter(0x01, 0x05);
    startScript("T01 R91 E T02 E");
    form.engine().reactiveStep();
    EXPECT_EQ(form.engine().outcome(), RunOutcome::DeviceFailed);
    EXPECT_TRUE(debugHas("Error.  Expected = 91  Read = 5"));
    EXPECT_EQ(driver.written(), (std::vector<std::uint8_t>{0xE1, 0x94, 0x01}));
}

TEST_F(ReactiveTest, HandshakeIsLeftToTheTicks) {
    startWithScript(scriptOf("T01 E"));
    startRunWithGoodHandshake();
    tick();
    form.engine().reactiveStep();
    EXPECT_EQ(S.ProgramMode, 102);
    tick();
    ASSERT_EQ(S.ProgramMode, 103);
    const std::size_t lines = status().size();
    form.engine().reactiveStep();  // the reply is waiting, but only a tick may drain it
    EXPECT_EQ(driver.waiting(), 2U);
    EXPECT_EQ(status().size(), lines);
    EXPECT_EQ(S.ProgramMode, 103);
    EXPECT_EQ(S.TimeoutCount, 54);
}

TEST_F(ReactiveTest, DoesNothingWhileATickIsBeingHandled) {
    startScript("T01 E");
    S.IsrActive = kTrue;
    form.engine().reactiveStep();
    EXPECT_EQ(S.ProgramMode, 1);
    EXPECT_EQ(driver.written().size(), 2U);
    S.IsrActive = kFalse;
}

TEST_F(ReactiveTest, PendingAbortIsHonoured) {
    startScript("T01 E");
    S.AbortPending = kTrue;
    form.engine().reactiveStep();
    EXPECT_EQ(form.engine().outcome(), RunOutcome::Aborted);
    EXPECT_EQ(S.ProgramMode, 0);
    EXPECT_EQ(S.AbortPending, kFalse);
    EXPECT_EQ(driver.written().size(), 2U);
}

TEST_F(ReactiveTest, IdleMachineIsLeftAlone) {
    startWithScript(scriptOf("T01 E"));
    form.engine().reactiveStep();
    EXPECT_EQ(S.ProgramMode, 0);
    EXPECT_EQ(form.engine().outcome(), RunOutcome::None);
    EXPECT_TRUE(driver.written().empty());
}

}  // namespace
}  // namespace reburn3::testing
