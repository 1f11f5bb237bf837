// SPDX-License-Identifier: Apache-2.0
// The verdict line: what happened, where the device stands and what to do.

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "run/exit_codes.h"
#include "run/verdict.h"

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

struct VerdictCase {
    RunResult result;
    const char* line;
};

RunResult at(RunResult r, std::uint64_t record, std::uint64_t line, const char* expected,
             const char* received) {
    r.failedRecord = record;
    r.scriptLine = line;
    r.expected = expected;
    r.received = received;
    return r;
}

TEST(Verdict, SaysWhatHappenedWhereTheDeviceStandsAndWhatToDo) {
    RunResult done = resultOf(RunOutcome::Completed, RunReason::Completed, true);
    done.records = 12347;
    done.scriptLines = 300;
    done.durationMs = 3290;
    RunResult wrong =
        at(resultOf(RunOutcome::DeviceFailed, RunReason::WrongByte, true), 2204, 50, "39", "C6");
    wrong.scriptLines = 300;
    RunResult interrupted = resultOf(RunOutcome::Aborted, RunReason::Interrupted, true);
    interrupted.recordsDone = 120;
    interrupted.records = 400;
    RunResult lost = resultOf(RunOutcome::DeviceFailed, RunReason::DeviceLost, true, true);
    lost.device = "/dev/ttyUSB0";
    RunResult hostile = resultOf(RunOutcome::None, RunReason::ScriptUnreadable);
    hostile.script = "/tmp/\x1b[2Jx.pf3";
    hostile.detail = "Permission denied";
    const std::vector<VerdictCase> cases = {
        {done, "reburn3: DONE: 12347 records, 300 lines in 3.3 s."},
        {wrong,
         "reburn3: FAILED (exit 1) at script line 50 of 300 (record 2204): expected 39, the device "
         "answered C6; the device is partly programmed: cycle its power before trying again."},
        {resultOf(RunOutcome::DeviceFailed, RunReason::NoReply),
         "reburn3: FAILED (exit 1): no answer to the handshake within 270 ms; the device was not "
         "touched. Check power, cable, BURN3 mode and the port."},
        {at(resultOf(RunOutcome::DeviceFailed, RunReason::Echo), 0, 0, "91 26", "E1 94"),
         "reburn3: FAILED (exit 1): the handshake came back as it was sent (E1 94): the port may "
         "be a loopback or the wrong device; the device was not touched. Check that the port "
         "leads to the ORX-716."},
        {interrupted,
         "reburn3: INTERRUPTED (exit 130) at record 120 of 400; the device is partly programmed: "
         "cycle its power before trying again."},
        {resultOf(RunOutcome::None, RunReason::Interrupted),
         "reburn3: INTERRUPTED (exit 130) before the download started; the device was not "
         "touched."},
        {lost,
         "reburn3: FAILED (exit 4): the device /dev/ttyUSB0 went away (unplugged or closed); "
         "\"Error: 31\" above means the same; the device is partly programmed: cycle its power "
         "before trying again. Reconnect the device, then download again."},
        // A file name never brings a control character to the terminal.
        {hostile,
         "reburn3: FAILED (exit 3): cannot read the script /tmp/<1B>[2Jx.pf3: Permission denied; "
         "the device was not touched. Fix the script, then try again."},
    };
    for (VerdictCase c : cases) {
        c.result.exitCode = exitCodeFor(c.result);
        EXPECT_EQ(verdictLine(c.result), c.line);
    }
}

}  // namespace
}  // namespace reburn3::run
