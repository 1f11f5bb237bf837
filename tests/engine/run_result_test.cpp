// SPDX-License-Identifier: Apache-2.0
// The run result the engine fills in as it stops a run: the reason, where in the script
// it stopped, the bytes it compared, and whether the device may hold part of the script.
// Every report of a run's end (the verdict line, the JSON result, the log line) is drawn
// from it alone.

#include <cstring>

#include "script/format_hint.h"
#include "support/test_fixture.h"

namespace reburn3::testing {
namespace {

class RunResultTest : public CoreTest {
protected:
    // Answers the handshake, then every R record in turn with `answers`.
    void answerWith(std::vector<std::uint8_t> answers) {
        m_answers = std::move(answers);
        driver.onByteWritten = [this](std::uint8_t b) {
            if (b == 0x94) {
                driver.receive({0x91, 0x26});
            }
        };
        form.ProgramFlash_Click();
        // The R bytes come one per tick once the machine waits for them.
        for (int t = 0; t < 10000 && S.ProgramMode != 0; ++t) {
            if (S.ProgramMode == 2 && !m_answers.empty() && driver.waiting() == 0) {
                driver.receive({m_answers.front()});
                m_answers.erase(m_answers.begin());
            }
            tick();
        }
    }
    const RunResult& result() const { return form.engine().result(); }

    std::vector<std::uint8_t> m_answers;
};

struct HandshakeCase {
    const char* name;
    std::vector<std::uint8_t> reply;
    RunReason reason;
    const char* expected;
    const char* received;
};

class HandshakeResult : public RunResultTest,
                        public ::testing::WithParamInterface<HandshakeCase> {};

TEST_P(HandshakeResult, NamesWhatCameBackAndLeavesTheDeviceUntouched) {
    const HandshakeCase& c = GetParam();
    startWithScript(scriptOf("T5A R91 E"));
    form.ProgramFlash_Click();
    driver.scheduleAt(now + 3, c.reply);
    runToEnd();
    EXPECT_EQ(result().outcome, RunOutcome::DeviceFailed);
    EXPECT_EQ(result().reason, c.reason);
    EXPECT_EQ(result().expected, c.expected);
    EXPECT_EQ(result().received, c.received);
    EXPECT_FALSE(result().partlyProgrammed);
    EXPECT_EQ(result().failedRecord, 0U);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, HandshakeResult,
    ::testing::Values(
        HandshakeCase{"Silence", {}, RunReason::NoReply, "", ""},
        HandshakeCase{"WrongEnd", {0x91, 0x27}, RunReason::BadHandshake, "91 26", "91 27"},
        HandshakeCase{"Echo", {0xE1, 0x94}, RunReason::Echo, "91 26", "E1 94"},
        // Zeros are a reply too, not silence.
        HandshakeCase{"Zeros", {0x00, 0x00}, RunReason::BadHandshake, "91 26", "00 00"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(RunResultTest, AWrongByteNamesItsRecordLineAndBothBytes) {
    // Records: T5A 1, T01 2, R91 3, E 4, T02 5, R26 6, E 7.
    startWithScript(scriptOf("T5A T01 R91 E T02 R26 E"));
    answerWith({0x91, 0x27});
    EXPECT_EQ(result().outcome, RunOutcome::DeviceFailed);
    EXPECT_EQ(result().reason, RunReason::WrongByte);
    EXPECT_EQ(result().failedRecord, 6U);
    EXPECT_EQ(result().scriptLine, 2U);
    EXPECT_EQ(result().expected, "26");
    EXPECT_EQ(result().received, "27");
    EXPECT_TRUE(result().partlyProgrammed);
}

TEST_F(RunResultTest, ATimeOutNamesTheRecordItWaitedFor) {
    startWithScript(scriptOf("T5A R91 E T02 R26 E"));
    answerWith({0x91});
    EXPECT_EQ(result().reason, RunReason::ReadTimeout);
    EXPECT_EQ(result().failedRecord, 5U);
    EXPECT_EQ(result().scriptLine, 2U);
    EXPECT_TRUE(result().expected.empty());
    EXPECT_TRUE(result().partlyProgrammed);
}

TEST_F(RunResultTest, ACompletedRunHasNoFailurePlaceAndANewRunStartsClean) {
    startWithScript(scriptOf("T5A R91 E"));
    answerWith({0x92});
    ASSERT_EQ(result().reason, RunReason::WrongByte);
    answerWith({0x91});
    EXPECT_EQ(result().outcome, RunOutcome::Completed);
    EXPECT_EQ(result().reason, RunReason::Completed);
    EXPECT_EQ(result().failedRecord, 0U);
    EXPECT_TRUE(result().expected.empty());
    EXPECT_FALSE(result().partlyProgrammed);
}

TEST_F(RunResultTest, AnAbortDuringTheHandshakeIsAnInterruptionBeforeAnyScriptByte) {
    startWithScript(scriptOf("T5A R91 E"));
    form.ProgramFlash_Click();
    tick();
    form.ProgramFlash_Click();  // "Abort Process"
    EXPECT_EQ(result().reason, RunReason::Interrupted);
    EXPECT_FALSE(result().partlyProgrammed);
}

TEST_F(RunResultTest, ARefusedScriptTouchesNothing) {
    startWithScript("T5A:TXX:E\r\n:");
    form.ProgramFlash_Click();
    EXPECT_EQ(result().outcome, RunOutcome::ScriptRefused);
    EXPECT_EQ(result().reason, RunReason::ScriptRefused);
    EXPECT_FALSE(result().partlyProgrammed);
}

// ---------------------------------------------------------------------------------------
// The hint a refused script earns: detected from its first bytes, posted after its faults.

struct HintCase {
    const char* name;
    std::string bytes;
    FormatHint hint;
};

class FormatHints : public ::testing::TestWithParam<HintCase> {};

TEST_P(FormatHints, AreToldFromTheFirstBytes) {
    const HintCase& c = GetParam();
    EXPECT_EQ(detectFormatHint(c.bytes.data(), c.bytes.size()), c.hint);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, FormatHints,
    ::testing::Values(HintCase{"Good", "T5A:R91:E\r\n:", FormatHint::None},
                      HintCase{"LfOnly", "T5A:R91:E\n:T01:E\n:", FormatHint::LfLineEnds},
                      HintCase{"DoubledCr", "T5A:R91:E\r\r\n:", FormatHint::DoubledCr},
                      HintCase{"Bom", "\xEF\xBB\xBFT5A:R91:E\r\n:", FormatHint::ByteOrderMark},
                      HintCase{"IntelHex", ":100000000C9434000C9446000C9446000C944600D6\r\n",
                               FormatHint::IntelHex},
                      HintCase{"SRecords", "S00F000068656C6C6F202020202000003C\r\n",
                               FormatHint::SRecords},
                      HintCase{"Binary",
                               std::string("\x7F"
                                           "ELF\x02\x01\x01\0\0",
                                           9),
                               FormatHint::RawBinary},
                      HintCase{"LowerCase", "T5a:R91:E\r\n:", FormatHint::LowerCaseHex},
                      // A lower-case letter that is no hex digit is a plain fault, not this hint.
                      HintCase{"LowerCaseNoHex", "T5g:R91:E\r\n:", FormatHint::None}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(RunResultTest, TheHintFollowsTheRefusalInTheDebugLog) {
    startWithScript("T5A:R91:E\n:T01:E\n:");
    form.ProgramFlash_Click();
    ASSERT_GE(debug().size(), 2U);
    EXPECT_EQ(debug().back(), formatHintText(FormatHint::LfLineEnds));
    EXPECT_EQ(debug()[debug().size() - 2].rfind("** ERROR ** Script refused", 0), 0U);
}

}  // namespace
}  // namespace reburn3::testing
