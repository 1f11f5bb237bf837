// SPDX-License-Identifier: Apache-2.0
#include "run/verdict.h"

#include <cstdio>

#include "run/exit_codes.h"
#include "run/reason_table.h"
#include "script/script_format.h"

namespace reburn3::run {

namespace {

constexpr const char* kUntouched = "the device was not touched";
constexpr const char* kPartly =
    "the device is partly programmed: cycle its power before trying again";

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
    const ReasonRow& row = reasonRow(r.reason);
    return row.what != nullptr ? row.what(r) : std::string("the run failed");
}

std::string nextStep(const RunResult& r) {
    return std::string(reasonRow(r.reason).nextStep);
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
            if (!r.deliveryConfirmed) {
                done +=
                    " This port cannot confirm that they reached the device (a pseudo-terminal "
                    "or a network bridge); they were given their time on the line. --require-ack "
                    "fails such a download.";
            }
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

}  // namespace reburn3::run
