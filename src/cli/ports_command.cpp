// SPDX-License-Identifier: Apache-2.0
#include "cli/check_command.h"
#include "cli/command_line.h"
#include "cli/info_commands.h"
#include "run/exit_codes.h"

namespace reburn3::cli {

namespace {

constexpr OptionSpec kPortsOptions[] = {
    OptionSpec("json").says("one JSON object on standard output"),
    OptionSpec("help", 'h').says("this help"),
};

}  // namespace

std::span<const OptionSpec> portsOptionTable() {
    return kPortsOptions;
}

std::string portsHelp() {
    return "Usage: reburn3 ports [--json]\n"
           "\n"
           "Lists the serial ports present (name, description, USB vendor:product, serial\n"
           "number) and the COM1 to COM8 map in effect.\n"
           "\n"
           "Options:\n" +
           optionHelp(kPortsOptions, kNarrowHelpColumn) +
           "\n"
           "Exit codes:\n"
           "  0    listed\n"
           "  2    usage error\n";
}

int portsCommand(int argc, char** argv) {
    const std::vector<std::string> words = commandWords(argc, argv);
    const ParsedOptions parsed = parseOptions(kPortsOptions, words, kCommandLineRules);
    if (const std::string problem = wordsProblem(parsed); !problem.empty()) {
        return infoUsageError(problem, "ports", words);
    }
    if (parsed.isSet("help")) {
        printHelp(portsHelp());
        return kExitCompleted;
    }
    if (!parsed.positional.empty()) {
        return infoUsageError("unexpected argument " + parsed.positional.front(), "ports", words);
    }
    return runPorts(parsed.isSet("json"));
}

}  // namespace reburn3::cli
