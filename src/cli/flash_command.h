// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/option_table.h"
#include "run/flash_words.h"
#include "run/run_context.h"
#include "run/run_options.h"

namespace reburn3::cli {

// The command line speaks the run's words: its options, results and exit codes.
using namespace reburn3::run;

// The end of a command that stopped before any download could start (a usage error
// after --json, an unwritable log): the last line, and the JSON result with `json`.
void reportNotStarted(RunReason reason, const std::string& detail, const FlashOptions& options);

// `reburn3 flash`: one download per port through the program's own procedures, each
// driven by its 5 ms tick timer in one event loop; `repeat` of them in a row, or, at a
// station, round after round. Returns the exit code: of the run that failed, and of
// several ports the gravest (see gangExitCode).
int runFlash(const FlashOptions& options);

// The help of `reburn3 flash`, its exit codes last.
std::string flashHelp();

// `reburn3 flash ...` (argv[2] on are its words): reads them into FlashOptions and runs
// runFlash(); a usage error is one line (and the JSON result with --json), exit 2.
int flashCommand(int argc, char** argv);

}  // namespace reburn3::cli
