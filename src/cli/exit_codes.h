#pragma once

#include <string_view>

#include "engine/engine.h"

namespace reburn3::cli {

// The exit codes of `reburn3`, all below 126 except the conventional one for an
// interrupt.
inline constexpr int kExitCompleted = 0;      // "Processing complete." was posted
inline constexpr int kExitDeviceFailed = 1;   // handshake, wrong byte, time-out
inline constexpr int kExitUsage = 2;          // bad command line
inline constexpr int kExitBadScript = 3;      // the script is unreadable or invalid
inline constexpr int kExitPortFailed = 4;     // the port could not be opened or was lost
inline constexpr int kExitInterrupted = 130;  // Ctrl-C, SIGTERM or SIGHUP

// The exit code of a run that ended with `outcome`. A lost device decides over anything
// but a completed run: the failure it caused is only its consequence.
int exitCodeFor(RunOutcome outcome, bool deviceLost);

// The outcome as a word for the JSON result: "completed", "device-failed", ...
std::string_view outcomeName(RunOutcome outcome);

// The help text's table of exit codes.
std::string_view exitCodeHelp();

}  // namespace reburn3::cli
