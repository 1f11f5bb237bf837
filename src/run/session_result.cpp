// SPDX-License-Identifier: Apache-2.0
#include "run/session_result.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "base/program_state.h"
#include "run/exit_codes.h"
#include "run/port_diagnosis.h"
#include "run/run_context.h"
#include "run/run_texts.h"
#include "run/verdict.h"
#include "script/script_check.h"

namespace reburn3::run {

std::string secondsText(double s) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g s", s);
    return buf;
}

RunResult assembleResult(const SessionFacts& f) {
    RunResult r = f.base;
    const RunResult& run = *f.run;
    r.outcome = run.outcome;
    r.reason = run.reason;
    r.failedRecord = run.failedRecord;
    r.scriptLine = run.scriptLine;
    r.expected = run.expected;
    r.received = run.received;
    r.partlyProgrammed = run.partlyProgrammed;
    r.bytesUnacknowledged = run.bytesUnacknowledged;
    r.deliveryConfirmed = run.outcome == RunOutcome::Completed && run.deliveryConfirmed;
    const bool ran = run.outcome != RunOutcome::None && run.outcome != RunOutcome::Running;
    if (f.reason == RunReason::HandshakeLimit) {
        // Ended by the session, not by the device's answer: a failure all the same.
        r.outcome = RunOutcome::DeviceFailed;
        r.reason = f.reason;
    } else if (f.reason != RunReason::None && (!ran || f.reason == RunReason::Interrupted)) {
        r.reason = f.reason;
    }
    if (f.requireAck && r.outcome == RunOutcome::Completed && r.bytesUnacknowledged > 0) {
        // --require-ack: a download the device did not answer for to its last byte is
        // not proven, whatever the port did with those bytes.
        r.outcome = RunOutcome::DeviceFailed;
        r.reason = RunReason::Unacknowledged;
        r.partlyProgrammed = true;
    }
    r.deviceLost = f.deviceLost;
    if (r.deviceLost && r.outcome != RunOutcome::Completed) {
        r.reason = RunReason::DeviceLost;
    }
    const ProgramState& s = *f.state;
    const ScriptSummary& summary = *f.summary;
    r.records = static_cast<std::uint64_t>(std::max(s.RecordsTotal, 0));
    r.recordsDone = static_cast<std::uint64_t>(std::max(s.RecordsDone, 0));
    r.scriptLines = summary.lines;
    r.bytesToSend = summary.txBytes;
    r.bytesToVerify = summary.rxBytes;
    r.bytesSent = f.bytesSent;
    r.bytesReceived = f.bytesReceived;
    r.ticks = f.ticks;
    r.durationMs = f.durationMs;
    r.startedAt = f.startedAt.empty() ? r.startedAt : f.startedAt;
    const std::string& device = f.device;
    if (!f.detail.empty()) {
        r.detail = f.detail;
    } else if (f.waitedOut && portLocked(device)) {
        r.detail = displayName(device) + " is held by " +
                   portHolder(device, static_cast<int>(::getpid())) +
                   std::string(texts::kNotReleased) + secondsText(f.waitForPortSeconds);
    } else if (f.waitedOut) {
        r.detail = displayName(device) + std::string(texts::kDidNotAppear) +
                   secondsText(f.waitForPortSeconds);
    } else if (r.reason == RunReason::PortOpenFailed) {
        r.detail = diagnosePort(f.base.port, r.device, f.openError);
    }
    r.endedAt = nowUtc();
    r.exitCode = exitCodeFor(r);
    return r;
}

}  // namespace reburn3::run
