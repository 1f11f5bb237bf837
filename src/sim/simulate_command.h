// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/option_table.h"

namespace reburn3::sim {

// Exit codes of `simulate`.
inline constexpr int kExitDone = 0;       // script played, unplugged, or stopped with --stay
inline constexpr int kExitFailure = 1;    // the pseudo-terminal could not be made or failed
inline constexpr int kExitUsage = 2;      // unknown option or missing script
inline constexpr int kExitBadScript = 3;  // the script cannot be read or is refused
inline constexpr int kExitExpired = 124;  // --lifetime ran out before the script was played
// Stopped by a signal before the script was played (without --stay): 128 + the
// signal number, 130 for SIGINT and 143 for SIGTERM.

// The options of `program` ("reburn3 simulate", or "reburn3-sim", which also takes
// --version): the one table its parse, help and shell completion read.
std::span<const OptionSpec> simulateOptions(std::string_view program);

// The --help of `program` ("reburn3 simulate" or "reburn3-sim").
std::string simulateUsage(std::string_view program);

// `reburn3 simulate [options] SCRIPT` or `reburn3-sim [options] SCRIPT`: runs a simulated
// ORX-716 on a pseudo-terminal and prints the port's path as the first line of standard
// output. `args` are the words after the command; `program` names it in every message (a
// usage error is one line and a hint); reburn3-sim also answers --version.
int simulateCommand(const std::vector<std::string>& args, std::string_view program);

// `reburn3 simulate` as `reburn3` hands it over: its table, its help, and argv whole (the
// words from argv[2] on).
std::span<const OptionSpec> simulateOptionTable();
std::string simulateHelp();
int simulateCommand(int argc, char** argv);

}  // namespace reburn3::sim
