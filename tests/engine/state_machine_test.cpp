// SPDX-License-Identifier: Apache-2.0
#include <filesystem>
#include <fstream>

#include "support/test_fixture.h"

namespace reburn3::testing {
namespace {

const std::string kPleaseWait = "Program Mode = 103 ... please wait";

class StateMachineTest : public CoreTest {};

TEST_F(StateMachineTest, RunInTicksAcceptsTheReplyAtTick58) {
    startWithScript(scriptOf("T5A T01 R91 E T02 R26 E"));
    form.ProgramFlash_Click();
    ASSERT_EQ(S.ProgramMode, 101);
    EXPECT_EQ(S.TimeoutCount, 54);
    driver.scheduleAt(now + 4, {0x91, 0x26});

    tick();  // 1
    EXPECT_EQ(S.TimeoutCount, 53);
    EXPECT_EQ(S.ProgramMode, 102);
    EXPECT_EQ(driver.written(), (std::vector<std::uint8_t>{0xE1}));
    tick();  // 2
    EXPECT_EQ(S.ProgramMode, 103);
    EXPECT_EQ(S.TimeoutCount, 54);
    EXPECT_EQ(driver.written(), (std::vector<std::uint8_t>{0xE1, 0x94}));
    tick();  // 3
    EXPECT_EQ(S.TimeoutCount, 53);
    tick();  // 4: the reply is drained
    EXPECT_EQ(S.TimeoutCount, 54);
    EXPECT_EQ(S.LastByte0, 0x91);
    EXPECT_EQ(S.LastByte1, 0x26);
    for (int t = 5; t <= 57; ++t) {
        tick();
        ASSERT_EQ(S.ProgramMode, 103) << "tick " << t;
        ASSERT_EQ(S.TimeoutCount, 58 - t) << "tick " << t;
    }
    tick();  // 58: accepted, the reader stops at the first T record
    EXPECT_EQ(S.TimeoutCount, 0);
    EXPECT_EQ(S.ProgramMode, 1);
    EXPECT_EQ(S.TxByte, 0x5A);
    EXPECT_EQ(driver.written().size(), 2U);
    EXPECT_EQ(statusCount(kPleaseWait), 56U);  // ticks 3 to 58

    tick();  // 59: the first group goes out with one packet write
    EXPECT_EQ(driver.written(), (std::vector<std::uint8_t>{0xE1, 0x94, 0x5A, 0x01}));
    EXPECT_EQ(driver.count("ser_rs232_putpacket"), 1);
    EXPECT_EQ(S.ProgramMode, 2);
    EXPECT_EQ(status()[1], "Program Mode = 101");
    EXPECT_EQ(status()[2], "Program Mode = 102");
}

TEST_F(StateMachineTest, SilentDeviceIsRejectedAfter54PleaseWaitLines) {
    startWithScript(scriptOf("T5A R91 E"));
    form.ProgramFlash_Click();
    const int n = runToEnd();
    EXPECT_EQ(n, 2 + 54);
    EXPECT_EQ(statusCount(kPleaseWait), 54U);
    const auto& d = debug();
    ASSERT_GE(d.size(), 3U);
    EXPECT_EQ(d[d.size() - 3], "Unexpected data read trying to initialize.");
    EXPECT_EQ(d[d.size() - 2], "LastByte0 = 0  LastByte1 = 0");
    EXPECT_EQ(d.back(), "Stop time:    12:00:00");
    EXPECT_EQ(form.engine().outcome(), RunOutcome::DeviceFailed);
    EXPECT_EQ(driver.written(), (std::vector<std::uint8_t>{0xE1, 0x94}));
}

// A reply kept from an earlier run must never let a silent device pass.
TEST_F(StateMachineTest, SilentDeviceIsRejectedInALaterRunToo) {
    startWithScript(scriptOf("T5A E"));
    startRunWithGoodHandshake();
    runToEnd();
    ASSERT_EQ(form.engine().outcome(), RunOutcome::Completed);
    ASSERT_EQ(S.LastByte1, 0x26);

    driver.onByteWritten = nullptr;
    form.ProgramFlash_Click();
    EXPECT_EQ(S.LastByte0, 0);
    EXPECT_EQ(S.LastByte1, 0);
    runToEnd();
    EXPECT_EQ(form.engine().outcome(), RunOutcome::DeviceFailed);
    EXPECT_TRUE(debugHas("LastByte0 = 0  LastByte1 = 0"));
}

struct ReplyCase {
    std::vector<std::uint8_t> reply;
    bool accepted;
    std::string lastBytes;
    std::uint64_t at = 3;  // the tick the reply is waiting by; 0x94 goes out at tick 2
    std::vector<std::uint8_t> later = {};  // and what comes at tick 3
};

class HandshakeReplyTest : public CoreTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(HandshakeReplyTest, IsJudgedByItsLastTwoBytes) {
    const ReplyCase& c = GetParam();
    startWithScript(scriptOf("T01 E"));
    form.ProgramFlash_Click();
    driver.scheduleAt(now + c.at, c.reply);
    if (!c.later.empty()) {
        driver.scheduleAt(now + 3, c.later);
    }
    runToEnd(500);
    EXPECT_EQ(form.engine().outcome() == RunOutcome::Completed, c.accepted);
    if (!c.accepted) {
        EXPECT_EQ(debug()[debug().size() - 2], c.lastBytes);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, HandshakeReplyTest,
    ::testing::Values(ReplyCase{{0x55, 0x91, 0x26}, true, ""},
                      ReplyCase{{0x91, 0x26, 0x00}, false, "LastByte0 = 26  LastByte1 = 0"},
                      ReplyCase{{0x91, 0x27}, false, "LastByte0 = 91  LastByte1 = 27"},
                      ReplyCase{{0x0A}, false, "LastByte0 = 0  LastByte1 = A"},
                      // Waiting before 0x94 went out: a late answer to another handshake,
                      // no reply to this one; an echo is still told by its two bytes.
                      ReplyCase{{0x91, 0x26}, false, "LastByte0 = 0  LastByte1 = 0", 1},
                      ReplyCase{{0x91}, false, "LastByte0 = 91  LastByte1 = 26", 1, {0x26}},
                      ReplyCase{{0xE1}, false, "LastByte0 = E1  LastByte1 = 94", 1, {0x94}}));

TEST_F(StateMachineTest, TransmitOnlyScriptGoesOutInOneTickWithOnePacketWrite) {
    startWithScript(scriptOf("T01 T02 E T03 E T04"));
    startRunWithGoodHandshake();
    ticks(57);  // handshake judged at the 57th tick: the reply was waiting at the 3rd
    ASSERT_EQ(S.ProgramMode, 1);
    const auto packetsBefore = driver.count("ser_rs232_putpacket");
    tick();
    EXPECT_EQ(driver.written(), (std::vector<std::uint8_t>{0xE1, 0x94, 1, 2, 3, 4}));
    EXPECT_EQ(driver.count("ser_rs232_putpacket") - packetsBefore, 1);
    // The packet write closes the group; the run is declared complete only after the
    // driver has counted no byte left to send and the port has stayed alive a while.
    const auto& calls = driver.calls();
    ASSERT_GE(calls.size(), 2U);
    EXPECT_EQ(calls[calls.size() - 2].name, "ser_rs232_putpacket");
    EXPECT_EQ(calls[calls.size() - 2].args, (std::vector<std::int32_t>{6, 0, '0', 0}));
    EXPECT_TRUE(form.engine().draining());
    ticks(Engine::kAliveTicksAfterDrain);
    EXPECT_EQ(S.ProgramMode, 0);
    EXPECT_EQ(status().back(), "Processing complete.  Exit this application.");
    EXPECT_EQ(form.engine().outcome(), RunOutcome::Completed);
    EXPECT_EQ(calls.back().name, "outputPending");
}

// The byte for an R record must be waiting by the 54th tick after the tick in which
// the record was read.
class ReceiveTimeOutTest : public CoreTest, public ::testing::WithParamInterface<int> {};

TEST_P(ReceiveTimeOutTest, CountsFromTheTickTheRecordWasRead) {
    const int late = GetParam();
    startWithScript(scriptOf("T01 R42 E"));
    startRunWithGoodHandshake();
    while (S.ProgramMode != 2) {
        tick();
    }
    const std::uint64_t readAt = now;
    driver.scheduleAt(readAt + static_cast<std::uint64_t>(late), {0x42});
    runToEnd(100);
    if (late <= 54) {
        EXPECT_EQ(form.engine().outcome(), RunOutcome::Completed);
    } else {
        EXPECT_EQ(form.engine().outcome(), RunOutcome::DeviceFailed);
        EXPECT_EQ(now, readAt + 54);
        EXPECT_EQ(debug()[debug().size() - 2], "Error. Read time out.");
    }
}

INSTANTIATE_TEST_SUITE_P(Lateness, ReceiveTimeOutTest, ::testing::Values(1, 53, 54, 55));

TEST_F(StateMachineTest, WrongByteStopsWithBothBytesInHex) {
    startWithScript(scriptOf("T01 R91 E T02 E"));
    startRunWithGoodHandshake();
    ticks(58);
    ASSERT_EQ(S.ProgramMode, 2);
    driver.receive({0x05});
    tick();
    EXPECT_EQ(S.ProgramMode, 0);
    const auto& d = debug();
    EXPECT_EQ(d[d.size() - 2], "Error.  Expected = 91  Read = 5");
    EXPECT_FALSE(statusHas("Processing complete.  Exit this application."));
    EXPECT_EQ(driver.written().size(), 3U);  // handshake and 0x01: nothing after the mismatch
}

TEST_F(StateMachineTest, ConsecutiveReceiveRecordsAreComparedInOneTick) {
    startWithScript(scriptOf("T01 R0A RFF R00 E T02"));
    startRunWithGoodHandshake();
    ticks(58);
    driver.receive({0x0A, 0xFF, 0x00});
    tick();
    EXPECT_EQ(S.ProgramMode, 1);
    EXPECT_EQ(driver.waiting(), 0U);
    ticks(1 + Engine::kAliveTicksAfterDrain);
    EXPECT_EQ(form.engine().outcome(), RunOutcome::Completed);
}

TEST_F(StateMachineTest, ModeOutsideTheTableStopsTheRun) {
    startWithScript(scriptOf("T01 E"));
    form.ProgramFlash_Click();
    S.ProgramMode = 3;
    tick();
    EXPECT_EQ(S.ProgramMode, 0);
    EXPECT_EQ(debug()[debug().size() - 2], "ProgramMode unexpected: 3");
    EXPECT_EQ(form.engine().outcome(), RunOutcome::InternalError);
}

TEST_F(StateMachineTest, TickDuringATickOnlyCountsDown) {
    startWithScript(scriptOf("T01 E"));
    form.ProgramFlash_Click();
    S.IsrActive = kTrue;
    const auto before = driver.calls().size();
    tick();
    EXPECT_EQ(S.TimeoutCount, 53);
    EXPECT_EQ(S.ProgramMode, 101);
    EXPECT_EQ(driver.calls().size(), before);
    EXPECT_TRUE(status().empty() || status().back() != "Program Mode = 101");
}

TEST_F(StateMachineTest, IdleTicksCountTheTimeOutDownToZeroOnly) {
    startWithScript(scriptOf("T01 E"));
    ticks(60);
    EXPECT_EQ(S.TimeoutCount, 0);
    EXPECT_EQ(S.ProgramMode, 0);
}

TEST_F(StateMachineTest, FailedByteWriteStopsTheRunAndIsNeverReportedAsDone) {
    startWithScript(scriptOf("T01 T02 T03 E"));
    startRunWithGoodHandshake();
    driver.failPutByteAfter(3, 31);  // handshake and the first script byte go through
    runToEnd();
    EXPECT_TRUE(debugHas("Error in put byte: 31"));
    EXPECT_FALSE(statusHas("Processing complete.  Exit this application."));
    EXPECT_EQ(form.engine().outcome(), RunOutcome::LinkFailed);
    EXPECT_EQ(driver.count("PutByte"), 4);  // nothing is tried after the failure
}

TEST_F(StateMachineTest, FailedPacketWriteAtTheEndIsNotACompletedRun) {
    startWithScript(scriptOf("T01 T02 E"));
    startRunWithGoodHandshake();
    driver.failWith("ser_rs232_putpacket", 17);
    runToEnd();
    EXPECT_TRUE(debugHas("Error in put packet: 17"));
    EXPECT_FALSE(statusHas("Processing complete.  Exit this application."));
    EXPECT_EQ(form.engine().outcome(), RunOutcome::LinkFailed);
}

TEST_F(StateMachineTest, FailedHandshakeWriteStopsTheRun) {
    startWithScript(scriptOf("T01 E"));
    driver.failWith("PutByte", 5);
    form.ProgramFlash_Click();
    tick();
    EXPECT_EQ(S.ProgramMode, 0);
    EXPECT_EQ(debug()[debug().size() - 2], "Error in put byte: 5");
}

TEST_F(StateMachineTest, ProgressLinesCarryTheTimeOncePerSecond) {
    startWithScript(scriptOf("T5A T01 R91 E T02 R26 E"));
    S.TimeLast = "";
    startRunWithGoodHandshake();
    ticks(58);
    driver.receive({0x91});
    tick();  // first line: with the time
    EXPECT_EQ(status().back(), "Processing ...   4          Time: 12:00:00");
    tick();
    driver.receive({0x26});
    tick();  // same second: no time
    ticks(Engine::kAliveTicksAfterDrain);
    EXPECT_EQ(status()[status().size() - 8], "Processing ...   7");
    EXPECT_EQ(status().back(), "Processing complete.  Exit this application.");
    EXPECT_EQ(textOf(TextBoxId::Text3), "0");
    EXPECT_EQ(textOf(TextBoxId::Text4), "7");
    EXPECT_EQ(textOf(TextBoxId::Text5), "100.0 %");
}

TEST_F(StateMachineTest, ConsecutiveLineMarksEachPostALine) {
    startWithScript(scriptOf("T01 E E E"));
    startRunWithGoodHandshake();
    clock.now = "12:00:01";
    runToEnd();
    EXPECT_TRUE(statusHas("Processing ...   2          Time: 12:00:01"));
    EXPECT_TRUE(statusHas("Processing ...   3"));
    EXPECT_TRUE(statusHas("Processing ...   4"));
}

// A script of two blocks: the first ends in an R record, so that the run waits for
// the device while the test changes the file under it.
class ChangedScriptTest : public CoreTest {
protected:
    void SetUp() override {
        std::string first;
        for (int i = 0; i < 16383; ++i) {
            first += "T01:";
        }
        first += "R01:";
        ASSERT_EQ(first.size(), kBlockSize);
        firstBlock = first;
        startWithScript(first + scriptOf("T02 E"));
        startRunWithGoodHandshake();
        ticks(58);  // the first block has gone out; the run waits for its R record
        ASSERT_EQ(S.ProgramMode, 2);
        ASSERT_EQ(driver.written().size(), 2U + 16383U);
    }

    void expectStoppedWithNothingUnchecked() {
        driver.receive({0x01});
        runToEnd();
        EXPECT_EQ(form.engine().outcome(), RunOutcome::ScriptFailed);
        EXPECT_FALSE(statusHas("Processing complete.  Exit this application."));
        EXPECT_EQ(debug()[debug().size() - 2],
                  "** ERROR ** Input file changed on disk during the run: " + S.FileName);
        EXPECT_EQ(driver.written().size(), 2U + 16383U);
    }

    std::string firstBlock;
};

TEST_F(ChangedScriptTest, RewrittenInPlaceNothingUncheckedIsSent) {
    // Even a change into a well-formed script is caught before its bytes are used.
    std::ofstream(S.FileName, std::ios::binary | std::ios::trunc)
        << firstBlock << scriptOf("T55 E");
    expectStoppedWithNothingUnchecked();
}

TEST_F(ChangedScriptTest, RewrittenWithABadDigitNeverSendsIt) {
    std::ofstream(S.FileName, std::ios::binary | std::ios::trunc)
        << firstBlock << scriptOf("T0x E");
    expectStoppedWithNothingUnchecked();
}

TEST_F(ChangedScriptTest, CutShortIsNotReportedAsDone) {
    std::filesystem::resize_file(S.FileName, kBlockSize);
    expectStoppedWithNothingUnchecked();
}

TEST_F(ChangedScriptTest, UnchangedFileCompletes) {
    driver.receive({0x01});
    runToEnd();
    EXPECT_EQ(form.engine().outcome(), RunOutcome::Completed);
    EXPECT_EQ(driver.written().back(), 0x02);
}

}  // namespace
}  // namespace reburn3::testing
