// SPDX-License-Identifier: Apache-2.0
// `reburn3 check` and `reburn3 ports` on the command line: their tables, their help and
// their words read.
#pragma once

#include <span>
#include <string>

#include "base/option_table.h"

namespace reburn3::cli {

// The one table each command's parse, help and completion read.
std::span<const OptionSpec> checkOptionTable();
std::span<const OptionSpec> portsOptionTable();

// Their help, each with its exit codes.
std::string checkHelp();
std::string portsHelp();

// `reburn3 check ...` and `reburn3 ports ...` (argv[2] on are the words); a usage error is
// one line (and a JSON line of the command's type with --json), exit 2.
int checkCommand(int argc, char** argv);
int portsCommand(int argc, char** argv);

}  // namespace reburn3::cli
