// SPDX-License-Identifier: Apache-2.0
// What the command line's commands share in reading their words: the rules of the parse,
// the words of a usage error and the help's layout.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/option_table.h"

namespace reburn3::cli {

// flash, check, ports and serve read their words as the Qt command-line parser did:
// joined short options ("-qp COM1") and numbers as QString reads them (" 3", "+3").
inline constexpr ParseRules kCommandLineRules{.joinedShortOptions = true, .lenientNumbers = true};

// The column where an option's text starts in the help of flash and serve, and in that of
// check and ports.
inline constexpr std::size_t kWideHelpColumn = 26;
inline constexpr std::size_t kNarrowHelpColumn = 15;

// The words after the command's name (argv[2] on), byte for byte.
std::vector<std::string> commandWords(int argc, char** argv);

// The usage error of a parse's own problems, as the command line has always worded them:
// "Unknown option 'x'.", "Unknown options: x, y.", "Missing value after '--port'.",
// "Unexpected value after '--json'."; empty when the words had none.
std::string wordsProblem(const ParsedOptions& parsed);

// A value that failed its option's check: the option's own words.
std::string valueProblem(const OptionProblem& problem);

// One line on standard error, what was wrong and where the help is (`command` "flash ",
// or empty for the program's own); returns the exit code of a usage error.
int usageError(const std::string& message, std::string_view command);

// True when `--json` was among the options (before a `--`).
bool jsonAsked(const std::vector<std::string>& words);

// A usage error of check or ports: the line, and with --json a line of the command's own
// type saying so, so that a program reading the JSON is never left without one.
int infoUsageError(const std::string& message, const char* command,
                   const std::vector<std::string>& words);

// A command's help: its text, then its own table of exit codes.
void printHelp(const std::string& usage, std::string_view exitCodes = {});

}  // namespace reburn3::cli
