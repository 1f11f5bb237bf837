// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>

#include "engine/run_result.h"

namespace reburn3 {
struct ProgramState;
struct ScriptSummary;
}  // namespace reburn3

namespace reburn3::run {

// What a session knows of its run when it ends, besides what the engine left.
struct SessionFacts {
    RunResult base;                      // version, script, port, device, attempts, round
    const RunResult* run = nullptr;      // the engine's result
    RunReason reason = RunReason::None;  // the session's own end (None: the run's)
    bool requireAck = false;
    bool deviceLost = false;
    const ProgramState* state = nullptr;
    const ScriptSummary* summary = nullptr;
    std::uint64_t bytesSent = 0;
    std::uint64_t bytesReceived = 0;
    std::uint64_t ticks = 0;
    std::int64_t durationMs = 0;
    std::string startedAt;
    // Why it ended, beyond the reason: the session's own words, else a wait for the port
    // that ran out, else the driver's code of a failed open.
    std::string detail;
    std::string device;  // the device the session opened (or waited for)
    bool waitedOut = false;
    double waitForPortSeconds = 0.0;
    std::int32_t openError = 0;
};

// The board's result: the engine's, with what the session knows added, and its exit code.
RunResult assembleResult(const SessionFacts& facts);

// "2 s", "0.5 s": a time given on the command line, as its words repeat it.
std::string secondsText(double seconds);

}  // namespace reburn3::run
