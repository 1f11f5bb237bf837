// SPDX-License-Identifier: Apache-2.0
// The program's commands: each with its face's entry, whether it runs under Qt, its
// option table and its help, read by the dispatch, `help COMMAND` and the completion.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "base/option_table.h"

namespace reburn3::program {

struct Command {
    std::string_view name;
    int (*run)(int, char**);
    bool qt;
    std::span<const OptionSpec> (*options)();
    std::string (*help)();
};

// The commands only this platform's program has (platform_commands_*.cpp), in the order
// the help lists them, and their lines in the program's help.
std::span<const Command> platformCommands();
std::string_view platformUsageLines();

// The command of that name, or null.
const Command* commandNamed(std::string_view name);

// The program's own help: the commands, then its own options.
std::string programHelp();

// What the shell completion asks (`reburn3 __complete [COMMAND]`): the commands, or a
// command's options, from the tables the parsers read.
std::string completion(int argc, char** argv);

}  // namespace reburn3::program
