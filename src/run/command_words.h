// SPDX-License-Identifier: Apache-2.0
// How the headless commands read their words: the rules of the parse, the words of a
// usage error and the help's columns. Shared by the terminal's commands and the station's.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/option_table.h"

namespace reburn3::run {

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

// True when `--json` was among the options (before a `--`).
bool jsonAsked(const std::vector<std::string>& words);

}  // namespace reburn3::run
