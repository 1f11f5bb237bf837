// SPDX-License-Identifier: Apache-2.0
// The words of a download, `reburn3 flash`'s and the station's alike: the table of its
// options (read by the parse, the help, the manual page and the completion) and the
// parsed words read into FlashOptions. Nothing here prints: a problem is returned as its
// one line.
#pragma once

#include <span>
#include <string>

#include "base/option_table.h"
#include "run/run_options.h"

namespace reburn3::run {

// `reburn3 flash`'s options: the one table its parse, help and completion read.
std::span<const OptionSpec> flashOptionTable();

// The script and the ports, told before any value: the first problem, or empty.
std::string readScriptAndPorts(const ParsedOptions& p, FlashOptions& options);

// The values the table has checked, the tags, and what the options say together: the
// first problem, or empty.
std::string readFlashOptions(const ParsedOptions& p, FlashOptions& options);

}  // namespace reburn3::run
