// SPDX-License-Identifier: Apache-2.0
#include "program/commands.h"

#include <cstdio>
#include <string>

#include "base/option_table.h"
#include "base/version.h"
#include "cli/check_command.h"
#include "cli/command_line.h"
#include "cli/flash_command.h"
#include "cli/terminal_listener.h"
#include "run/exit_codes.h"
#include "run/signal_watcher.h"
#include "run/standard_descriptors.h"

namespace reburn3::program {

namespace {

// The program's help, before its own options; the platform's own commands go between
// ports and help.
constexpr std::string_view kUsageHead =
    "Usage: reburn3 COMMAND [options] [--] [SCRIPT]\n"
    "\n"
    "Downloads firmware into an ORX-716 interface device in BURN3 mode.\n"
    "\n"
    "Commands:\n"
    "  flash --port DEVICE|COMn SCRIPT  download SCRIPT (a .pf3 programming script)\n"
    "  check SCRIPT                     check SCRIPT without opening a port\n"
    "  ports                            list the serial ports and the COM1-COM8 map\n";
constexpr std::string_view kUsageTail =
    "  help [COMMAND]                   this help, or a command's own\n"
    "\n"
    "Options come after the command. Run `reburn3 COMMAND --help` (or\n"
    "`reburn3 help COMMAND`) for a command's options and exit codes.\n";

// The program's own options, before any command.
constexpr OptionSpec kProgramOptions[] = {
    OptionSpec("help", 'h').says("this help"),
    OptionSpec("version", 'V').says("the version, the commit and the Qt version"),
};

// The commands of every platform, in the order the help lists them; the platform's own
// follow (platformCommands).
const Command kCommands[] = {
    {"flash", cli::flashCommand, true, cli::flashOptionTable, cli::flashHelp},
    {"check", cli::checkCommand, true, cli::checkOptionTable, cli::checkHelp},
    {"ports", cli::portsCommand, true, cli::portsOptionTable, cli::portsHelp},
};

}  // namespace

const Command* commandNamed(std::string_view name) {
    for (const Command& c : kCommands) {
        if (c.name == name) {
            return &c;
        }
    }
    for (const Command& c : platformCommands()) {
        if (c.name == name) {
            return &c;
        }
    }
    return nullptr;
}

// What the shell completion asks: the commands, or a command's options, from the tables
// the parsers read.
std::string completion(int argc, char** argv) {
    if (argc > 2) {
        const Command* c = commandNamed(argv[2]);
        return c == nullptr ? std::string() : completionLines(c->options());
    }
    std::string lines;
    for (const Command& c : kCommands) {
        lines += std::string(c.name) + "\n";
    }
    for (const Command& c : platformCommands()) {
        lines += std::string(c.name) + "\n";
    }
    return lines + "help\n";
}

std::string programHelp() {
    return std::string(kUsageHead) + std::string(platformUsageLines()) + std::string(kUsageTail) +
           optionHelp(kProgramOptions, 18);
}

}  // namespace reburn3::program
