// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "run/run_options.h"

#include <cstdint>
#include <string>

namespace reburn3::cli {

// The command line speaks the run's words: its options, results and exit codes.
using namespace reburn3::run;

// `reburn3 check [--baud RATE] SCRIPT`: the full check of a script, without a port. Prints
// its measure and the least time a download takes, on ticks and, on a line of `lineBaud`,
// with reactive steps too (0: an infinitely fast line, ticks only), or its faults (exit 3).
int runCheck(const std::string& script, bool json, std::uint32_t lineBaud = 0);

// `reburn3 ports`: the serial ports present and the COM1 to COM8 map in effect.
int runPorts(bool json);

}  // namespace reburn3::cli
