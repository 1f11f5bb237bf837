// SPDX-License-Identifier: Apache-2.0
// The Windows program has neither the station service (it needs a database driver the
// Windows build of Qt lacks) nor the simulated device (it needs a pseudo-terminal, which
// Windows has not): asked for either, it says so in one line and ends as a usage error.
#include "cli/command_line.h"
#include "program/commands.h"

namespace reburn3::program {

namespace {

int serveIsNotHere(int /*argc*/, char** /*argv*/) {
    return cli::usageError("serve is not part of the Windows program; run it on Linux", "");
}

int simulateIsNotHere(int /*argc*/, char** /*argv*/) {
    return cli::usageError("simulate is not part of the Windows program; run it on Linux", "");
}

std::span<const OptionSpec> noOptions() {
    return {};
}

std::string serveHelp() {
    return "serve is not part of the Windows program; run it on Linux.\n";
}

std::string simulateHelp() {
    return "simulate is not part of the Windows program; run it on Linux.\n";
}

// Not in the program's help, but known by name, so that the answer says where the command
// is rather than "unknown command".
const Command kKnownElsewhere[] = {
    {"serve", serveIsNotHere, false, noOptions, serveHelp},
    {"simulate", simulateIsNotHere, false, noOptions, simulateHelp},
};

}  // namespace

std::span<const Command> platformCommands() {
    return kKnownElsewhere;
}

std::string_view platformUsageLines() {
    return {};
}

}  // namespace reburn3::program
