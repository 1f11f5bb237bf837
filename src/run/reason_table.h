// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <string_view>

#include "engine/run_result.h"

namespace reburn3::run {

// Everything the command line says of one reason a run ended, in one row: the word the
// results and logs carry, the exit code, the result's word, the verdict's account of
// what happened and its next step.
struct ReasonRow {
    RunReason reason;
    std::string_view name;  // "wrong-byte"
    int exitCode;           // the command's exit code for a run that ended so
    // The exit code once a byte of the script went out: a script that fails the run then
    // no longer leaves the device untouched.
    int exitCodeOncePartly;
    // The result's word where the reason decides it ("port-failed"); empty: the outcome's.
    std::string_view resultName;
    // The verdict's account ("no answer to the handshake within 270 ms"); null where the
    // verdict says something of its own.
    std::string (*what)(const RunResult&);
    std::string_view nextStep;  // "Check power, cable, BURN3 mode and the port."
};

// The row of `reason`; every reason has one.
const ReasonRow& reasonRow(RunReason reason);

// The reason as the word the JSON result and the log use: "wrong-byte", ...
std::string_view reasonName(RunReason reason);

}  // namespace reburn3::run
