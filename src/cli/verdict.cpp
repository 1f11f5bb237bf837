// SPDX-License-Identifier: Apache-2.0
#include "cli/verdict.h"

#include <cstdio>

#include "cli/exit_codes.h"
#include "script/script_format.h"

namespace reburn3::cli {

namespace {

constexpr const char* kUntouched = "the device was not touched";
constexpr const char* kPartly =
    "the device is partly programmed: cycle its power before trying again";
// The receive and handshake time-out: 54 ticks of 5 ms.
constexpr const char* kWindow = "270 ms";

std::string seconds(std::int64_t ms) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f s", static_cast<double>(ms) / 1000.0);
    return buf;
}

// Where in the script the run stopped: " at script line 50 of 300 (record 2204)".
std::string where(const RunResult& r) {
    if (r.failedRecord == 0) {
        return {};
    }
    return " at script line " + std::to_string(r.scriptLine) + " of " +
           std::to_string(r.scriptLines) + " (record " + std::to_string(r.failedRecord) + ")";
}

std::string what(const RunResult& r) {
    switch (r.reason) {
        case RunReason::NoReply:
            return std::string("no answer to the handshake within ") + kWindow;
        case RunReason::BadHandshake:
            return "the device answered the handshake with " + r.received + " instead of " +
                   r.expected;
        case RunReason::Echo:
            return "the handshake came back as it was sent (" + r.received +
                   "): the port may be a loopback or the wrong device";
        case RunReason::HandshakeLimit:
            return "the device kept sending and never let the handshake end";
        case RunReason::WrongByte:
            return "expected " + r.expected + ", the device answered " + r.received;
        case RunReason::ReadTimeout:
            return std::string("no answer from the device within ") + kWindow;
        case RunReason::WriteFailed:
            return "a write to the port failed";
        case RunReason::DrainTimeout:
            return "the bytes sent did not drain to the line in time";
        case RunReason::DeviceLost:
            return "the device " + displayName(r.device) +
                   " went away (unplugged or closed); \"Error: 31\" above means the same";
        case RunReason::ScriptChanged:
            return "the script changed on disk during the run";
        case RunReason::ScriptMalformed:
            return "a record of the script could not be played";
        case RunReason::InternalError:
            return "internal error: the state machine left its table";
        case RunReason::ScriptUnreadable:
            return "cannot read the script " + displayName(r.script) +
                   (r.detail.empty() ? std::string() : ": " + r.detail);
        case RunReason::ScriptRefused:
            return "the script " + displayName(r.script) +
                   " was refused by the check (`reburn3 check` lists its faults)";
        case RunReason::ScriptMismatch:
            return "the script's SHA-256 is " + r.sha256 + ", not the one expected";
        case RunReason::PortOpenFailed:
            if (r.device.empty()) {
                return r.detail;  // no device matched the port's name
            }
            return "the port " + displayName(r.device) + " could not be opened" +
                   (r.detail.empty() ? std::string() : ": " + r.detail);
        case RunReason::OutputUnwritable:
            return r.detail;
        case RunReason::Usage:
            return r.detail;
        case RunReason::None:
        case RunReason::Completed:
        case RunReason::Interrupted:
            break;
    }
    return "the run failed";
}

std::string nextStep(const RunResult& r) {
    switch (r.reason) {
        case RunReason::NoReply:
            return "Check power, cable, BURN3 mode and the port.";
        case RunReason::BadHandshake:
        case RunReason::HandshakeLimit:
            return "Check that the device is in BURN3 mode and on this port.";
        case RunReason::Echo:
            return "Check that the port leads to the ORX-716.";
        case RunReason::DeviceLost:
            return "Reconnect the device, then download again.";
        case RunReason::ScriptUnreadable:
        case RunReason::ScriptRefused:
        case RunReason::ScriptMalformed:
            return "Fix the script, then try again.";
        case RunReason::ScriptMismatch:
            return "Check that this is the script meant for the device.";
        case RunReason::ScriptChanged:
            return "Keep the script unchanged during a download, then try again.";
        case RunReason::PortOpenFailed:
            return "`reburn3 ports` lists the ports.";
        case RunReason::WriteFailed:
        case RunReason::DrainTimeout:
            return "Check the cable and the port, then try again.";
        default:
            break;
    }
    return "Then try again.";
}

}  // namespace

std::string displayName(const std::string& name) {
    return script::printable(name);
}

std::string verdictLine(const RunResult& r, const std::string& logFailure) {
    if (logFailed(r)) {
        // The download's own verdict follows, as it would have been without the log.
        RunResult run = r;
        run.exitCode = exitCodeFor(r);
        const std::string own = verdictLine(run);
        constexpr std::string_view kProgram = "reburn3: ";
        return "reburn3: FAILED (exit " + std::to_string(r.exitCode) + "): " + logFailure +
               "; the record of this download is lost. The download: " +
               own.substr(own.rfind(kProgram, 0) == 0 ? kProgram.size() : 0);
    }
    const std::string code = std::to_string(r.exitCode);
    if (r.outcome == RunOutcome::Completed) {
        std::string done = "reburn3: DONE: " + std::to_string(r.records) + " records, " +
                           std::to_string(r.scriptLines) + " lines in " + seconds(r.durationMs) +
                           ".";
        if (r.attempts > 1) {
            done += " Attempt " + std::to_string(r.attempts) + ".";
        }
        if (r.bytesUnacknowledged > 0) {
            // The script ends in T records: the device takes them without a word back.
            done += " The last " + std::to_string(r.bytesUnacknowledged) +
                    " bytes left the port after the device's last answer; it never acknowledges "
                    "them.";
        }
        return done;
    }
    const std::string state = r.partlyProgrammed ? kPartly : kUntouched;
    if (r.reason == RunReason::Interrupted && !r.deviceLost) {
        const std::string at = r.outcome == RunOutcome::None
                                   ? std::string(" before the download started")
                                   : " at record " + std::to_string(r.recordsDone) + " of " +
                                         std::to_string(r.records);
        return "reburn3: INTERRUPTED (exit " + code + ")" + at + "; " + state + ".";
    }
    const bool noDevice = r.reason == RunReason::PortOpenFailed && r.device.empty();
    if (r.reason == RunReason::Usage || r.reason == RunReason::OutputUnwritable || noDevice) {
        return "reburn3: NOT STARTED (exit " + code + "): " + what(r) + "; " + state + ".";
    }
    // A lost device explains whatever failure followed it.
    RunResult shown = r;
    if (r.deviceLost) {
        shown.reason = RunReason::DeviceLost;
    }
    std::string line =
        "reburn3: FAILED (exit " + code + ")" + where(r) + ": " + what(shown) + "; " + state + ".";
    if (r.attempts > 1) {
        line += " " + std::to_string(r.attempts) + " attempts.";
    }
    // A partly programmed device's next step is said already, unless there is more to do.
    if (!r.partlyProgrammed || r.deviceLost || r.reason == RunReason::Echo ||
        r.reason == RunReason::ScriptChanged) {
        line += " " + nextStep(shown);
    }
    return line;
}

std::string headerLine(const RunResult& r) {
    std::string line = "reburn3 " + r.version;
    if (!r.commit.empty()) {
        line += " (commit " + r.commit + ")";
    }
    line += ": " + displayName(r.device);
    if (r.port != r.device) {
        line += " (" + displayName(r.port) + ")";
    }
    line += ", script " + displayName(r.script);
    line += ", SHA-256 " + (r.sha256.empty() ? std::string("unknown") : r.sha256);
    return line;
}

}  // namespace reburn3::cli
