// SPDX-License-Identifier: Apache-2.0
// What the command line's commands share in reading their words: the rules of the parse,
// the words of a usage error and the help's layout.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/option_table.h"
#include "run/command_words.h"

namespace reburn3::cli {

using namespace reburn3::run;

// One line on standard error, what was wrong and where the help is (`command` "flash ",
// or empty for the program's own); returns the exit code of a usage error.
int usageError(const std::string& message, std::string_view command);

// A usage error of check or ports: the line, and with --json a line of the command's own
// type saying so, so that a program reading the JSON is never left without one.
int infoUsageError(const std::string& message, const char* command,
                   const std::vector<std::string>& words);

// A command's help: its text, then its own table of exit codes.
void printHelp(const std::string& usage, std::string_view exitCodes = {});

}  // namespace reburn3::cli
