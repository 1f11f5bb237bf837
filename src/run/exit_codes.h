// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string_view>
#include <vector>

#include "engine/engine.h"
#include "run/reason_table.h"

namespace reburn3::run {

// The exit codes of `reburn3`, all below 126 except the conventional one for an
// interrupt.
inline constexpr int kExitCompleted = 0;     // "Processing complete." was posted
inline constexpr int kExitDeviceFailed = 1;  // handshake, wrong byte, time-out
inline constexpr int kExitUsage = 2;         // bad command line
inline constexpr int kExitBadScript = 3;     // the script is unreadable or invalid
inline constexpr int kExitPortFailed = 4;    // the port could not be opened or was lost
// A record of the download was lost: its --log line, its --trace or its --json output
// could not be written (the download itself may have done anything, completed included;
// the result says what): the record is what failed.
inline constexpr int kExitLogFailed = 5;
inline constexpr int kExitInterrupted = 130;  // Ctrl-C, SIGTERM or SIGHUP

// The exit code of a download that ended as `result` says. A lost device decides over
// anything but a completed run: the failure it caused is only its consequence. Exit 3
// promises that no byte of the script went out: a script that fails the run after that
// (changed on disk) exits 1, with the device partly programmed.
int exitCodeFor(const RunResult& result);

// The exit code of a command that flashed several ports (or several boards at a
// station): 0 only when every run completed, else the gravest of their codes in this
// order: 130 (interrupted), 5 (log), 4 (port), 3 (script), 2 (usage), 1 (device). No
// runs: 0.
int gangExitCode(const std::vector<int>& codes);

// A result whose --log line could not be written: its exit code says so, whatever the
// download's own outcome and reason, which it keeps.
inline bool logFailed(const RunResult& result) {
    return result.exitCode == kExitLogFailed;
}
// The reason as the result shows it: "log-failed" for a lost log line, else the run's.
std::string_view reasonWord(const RunResult& result);

// The outcome as a word for the JSON result: "completed", "device-failed", ...
std::string_view outcomeName(RunOutcome outcome);
// The result's word: the outcome's, except that a lost device is "device-lost" and an
// interruption "interrupted" whenever they happened, and a session that ended before
// any run names what stopped it ("script-unreadable", "port-failed", ...), and a lost log
// line is "log-failed".
std::string_view resultName(const RunResult& result);

// The help texts' tables of exit codes: flash's, and check's.
std::string_view exitCodeHelp();
std::string_view checkExitCodeHelp();

}  // namespace reburn3::run
