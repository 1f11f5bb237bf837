// SPDX-License-Identifier: Apache-2.0
// The commands only the Linux program has: the station service and the simulated device.
#include "cli/terminal_listener.h"
#include "program/commands.h"
#include "serve/serve_command.h"
#include "serve/serve_options.h"
#include "sim/simulate_command.h"

namespace reburn3::program {

namespace {

// The station service tells its rounds on the terminal too, as flash does.
int serveOnTerminal(int argc, char** argv) {
    cli::TerminalListener terminal;
    return serve::serveCommand(argc, argv, terminal);
}

const Command kPlatformCommands[] = {
    {"serve", serveOnTerminal, true, serve::serveOptionTable, serve::serveHelp},
    // The simulator needs no Qt: it runs its own loop on the pseudo-terminal.
    {"simulate", sim::simulateCommand, false, sim::simulateOptionTable, sim::simulateHelp},
};

}  // namespace

std::span<const Command> platformCommands() {
    return kPlatformCommands;
}

std::string_view platformUsageLines() {
    return "  serve --port DEVICE SCRIPT       the station service: a page and an HTTP API\n"
           "  simulate [options] SCRIPT        run a simulated ORX-716 on a pseudo-terminal\n";
}

}  // namespace reburn3::program
