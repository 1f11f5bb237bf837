// SPDX-License-Identifier: Apache-2.0
#include "run/exit_codes.h"

#include "run/reason_table.h"

namespace reburn3::run {

int exitCodeFor(const RunResult& result) {
    if (result.outcome == RunOutcome::Completed) {
        return kExitCompleted;
    }
    if (result.deviceLost) {
        return kExitPortFailed;
    }
    const ReasonRow& row = reasonRow(result.reason);
    return result.partlyProgrammed ? row.exitCodeOncePartly : row.exitCode;
}

std::string_view reasonWord(const RunResult& result) {
    return logFailed(result) ? std::string_view("log-failed") : reasonName(result.reason);
}

std::string_view resultName(const RunResult& result) {
    if (logFailed(result)) {
        return "log-failed";
    }
    if (result.outcome == RunOutcome::Completed) {
        return "completed";
    }
    if (result.deviceLost || result.reason == RunReason::DeviceLost) {
        return "device-lost";
    }
    const std::string_view word = reasonRow(result.reason).resultName;
    if (!word.empty()) {
        return word;
    }
    return outcomeName(result.outcome);
}

std::string_view outcomeName(RunOutcome outcome) {
    switch (outcome) {
        case RunOutcome::None:
            return "none";
        case RunOutcome::Running:
            return "running";
        case RunOutcome::Completed:
            return "completed";
        case RunOutcome::DeviceFailed:
            return "device-failed";
        case RunOutcome::LinkFailed:
            return "link-failed";
        case RunOutcome::ScriptFailed:
            return "script-failed";
        case RunOutcome::DeviceLost:
            return "device-lost";
        case RunOutcome::Aborted:
            return "aborted";
        case RunOutcome::InternalError:
            return "internal-error";
        case RunOutcome::NoScript:
            return "no-script";
        case RunOutcome::ScriptUnreadable:
            return "script-unreadable";
        case RunOutcome::ScriptRefused:
            return "script-refused";
        case RunOutcome::PortNotOpen:
            return "port-not-open";
    }
    return "unknown";
}

std::string_view exitCodeHelp() {
    return "Exit codes:\n"
           "  0    the download completed (\"Processing complete.\" was posted)\n"
           "  1    the device failed the run (handshake, wrong byte, time-out)\n"
           "  2    usage error\n"
           "  3    the script cannot be read, is invalid or is not the one expected;\n"
           "       nothing was sent\n"
           "  4    the port could not be opened, a write to it failed, or the device was\n"
           "       lost\n"
           "  5    a record of the download was lost: its --log line, its --trace or the\n"
           "       --json output could not be written (a full disk); the download itself\n"
           "       may have completed: see the last line\n"
           "  130  interrupted (Ctrl-C, SIGTERM or SIGHUP); the run was aborted\n"
           "A failure after the first byte of the script went out (1, 4 or 130) leaves the\n"
           "device partly programmed: the last line says so; cycle its power before trying\n"
           "again.\n"
           "With several ports, or at a station, 0 only when every board completed; else\n"
           "the gravest code of any board: 130, then 5, then 4, then 3, then 1.\n";
}

std::string_view checkExitCodeHelp() {
    return "Exit codes:\n"
           "  0    the script is valid\n"
           "  2    usage error\n"
           "  3    the script cannot be read or is invalid\n"
           "  5    the report could not be written to standard output (a full disk)\n";
}

int gangExitCode(const std::vector<int>& codes) {
    // The first code in this list that any run ended with decides.
    static constexpr int kGravest[] = {kExitInterrupted, kExitLogFailed, kExitPortFailed,
                                       kExitBadScript,   kExitUsage,     kExitDeviceFailed};
    for (const int grave : kGravest) {
        for (const int code : codes) {
            if (code == grave) {
                return grave;
            }
        }
    }
    for (const int code : codes) {
        if (code != kExitCompleted) {
            return code;
        }
    }
    return kExitCompleted;
}

}  // namespace reburn3::run
