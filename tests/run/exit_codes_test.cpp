// SPDX-License-Identifier: Apache-2.0
// The exit code and the result word of a run, and the one code of several ports.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "run/exit_codes.h"

namespace reburn3::run {
namespace {

RunResult resultOf(RunOutcome outcome, RunReason reason, bool partly = false, bool lost = false) {
    RunResult r;
    r.outcome = outcome;
    r.reason = reason;
    r.partlyProgrammed = partly;
    r.deviceLost = lost;
    return r;
}

struct ExitCase {
    RunResult result;
    int code;
    const char* name;
};

// The exit code and the result word follow the reason; a lost device decides over any
// failure; exit 3 only while no byte of the script went out.
TEST(ExitCodes, FollowTheReasonWithALostDeviceFirst) {
    const std::vector<ExitCase> cases = {
        {resultOf(RunOutcome::Completed, RunReason::Completed), 0, "completed"},
        {resultOf(RunOutcome::Completed, RunReason::Completed, true, true), 0, "completed"},
        {resultOf(RunOutcome::DeviceFailed, RunReason::NoReply), 1, "device-failed"},
        {resultOf(RunOutcome::DeviceFailed, RunReason::Echo), 1, "device-failed"},
        {resultOf(RunOutcome::DeviceFailed, RunReason::WrongByte, true), 1, "device-failed"},
        {resultOf(RunOutcome::DeviceFailed, RunReason::ReadTimeout, true, true), 4, "device-lost"},
        {resultOf(RunOutcome::DeviceLost, RunReason::DeviceLost, true, true), 4, "device-lost"},
        {resultOf(RunOutcome::LinkFailed, RunReason::WriteFailed, true), 4, "link-failed"},
        {resultOf(RunOutcome::LinkFailed, RunReason::DrainTimeout, true), 4, "link-failed"},
        {resultOf(RunOutcome::InternalError, RunReason::InternalError), 1, "internal-error"},
        {resultOf(RunOutcome::ScriptFailed, RunReason::ScriptChanged, false), 3, "script-failed"},
        {resultOf(RunOutcome::ScriptFailed, RunReason::ScriptChanged, true), 1, "script-failed"},
        {resultOf(RunOutcome::None, RunReason::ScriptUnreadable), 3, "script-unreadable"},
        {resultOf(RunOutcome::ScriptRefused, RunReason::ScriptRefused), 3, "script-refused"},
        {resultOf(RunOutcome::None, RunReason::ScriptMismatch), 3, "script-refused"},
        {resultOf(RunOutcome::None, RunReason::PortOpenFailed), 4, "port-failed"},
        {resultOf(RunOutcome::None, RunReason::OutputUnwritable), 2, "usage-error"},
        {resultOf(RunOutcome::None, RunReason::Usage), 2, "usage-error"},
        // An interruption is named one way before and during a run.
        {resultOf(RunOutcome::None, RunReason::Interrupted), 130, "interrupted"},
        {resultOf(RunOutcome::Aborted, RunReason::Interrupted, true), 130, "interrupted"},
    };
    for (const ExitCase& c : cases) {
        SCOPED_TRACE(std::string(reasonName(c.result.reason)));
        EXPECT_EQ(exitCodeFor(c.result), c.code);
        EXPECT_EQ(resultName(c.result), c.name);
    }
    // Nothing but a completed run ever gives 0.
    EXPECT_NE(exitCodeFor(resultOf(RunOutcome::None, RunReason::None)), 0);
}

// Several ports end in one code: 0 only when all completed, else the gravest.
struct GangCase {
    std::vector<int> codes;
    int expected;
};
class GangExitCode : public ::testing::TestWithParam<GangCase> {};
TEST_P(GangExitCode, TheGravestDecides) {
    EXPECT_EQ(gangExitCode(GetParam().codes), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(Orders, GangExitCode,
                         ::testing::Values(GangCase{{}, 0}, GangCase{{0, 0, 0}, 0},
                                           GangCase{{0, 1, 0}, 1}, GangCase{{1, 4, 0}, 4},
                                           GangCase{{4, 130, 1}, 130}, GangCase{{3, 1}, 3},
                                           GangCase{{1, 3, 4}, 4}, GangCase{{0, 7}, 7}));

}  // namespace
}  // namespace reburn3::run
