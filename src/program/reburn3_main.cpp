// SPDX-License-Identifier: Apache-2.0
// reburn3: downloads firmware into an ORX-716 over a serial port, from the command line.
// This is only the dispatcher: it picks the command and hands the words to its face.

#include <QCoreApplication>

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
#include "serve/serve_command.h"
#include "serve/serve_options.h"
#include "sim/simulate_command.h"

namespace {

using namespace reburn3;

// The program's help, before its own options.
constexpr std::string_view kUsage =
    "Usage: reburn3 COMMAND [options] [--] [SCRIPT]\n"
    "\n"
    "Downloads firmware into an ORX-716 interface device in BURN3 mode.\n"
    "\n"
    "Commands:\n"
    "  flash --port DEVICE|COMn SCRIPT  download SCRIPT (a .pf3 programming script)\n"
    "  check SCRIPT                     check SCRIPT without opening a port\n"
    "  ports                            list the serial ports and the COM1-COM8 map\n"
    "  serve --port DEVICE SCRIPT       the station service: a page and an HTTP API\n"
    "  simulate [options] SCRIPT        run a simulated ORX-716 on a pseudo-terminal\n"
    "  help [COMMAND]                   this help, or a command's own\n"
    "\n"
    "Options come after the command. Run `reburn3 COMMAND --help` (or\n"
    "`reburn3 help COMMAND`) for a command's options and exit codes.\n";

// The program's own options, before any command.
constexpr OptionSpec kProgramOptions[] = {
    OptionSpec("help", 'h').says("this help"),
    OptionSpec("version", 'V').says("the version, the commit and the Qt version"),
};

// The station service tells its rounds on the terminal too, as flash does.
int serveOnTerminal(int argc, char** argv) {
    cli::TerminalListener terminal;
    return serve::serveCommand(argc, argv, terminal);
}

// Each command: its face's entry (handed argv whole), whether it runs under Qt, its
// option table and its help, in the order the help lists them.
struct Command {
    std::string_view name;
    int (*run)(int, char**);
    bool qt;
    std::span<const OptionSpec> (*options)();
    std::string (*help)();
};
const Command kCommands[] = {
    {"flash", cli::flashCommand, true, cli::flashOptionTable, cli::flashHelp},
    {"check", cli::checkCommand, true, cli::checkOptionTable, cli::checkHelp},
    {"ports", cli::portsCommand, true, cli::portsOptionTable, cli::portsHelp},
    {"serve", serveOnTerminal, true, serve::serveOptionTable, serve::serveHelp},
    // The simulator needs no Qt: it runs its own loop on the pseudo-terminal.
    {"simulate", sim::simulateCommand, false, sim::simulateOptionTable, sim::simulateHelp},
};

const Command* commandNamed(std::string_view name) {
    for (const Command& c : kCommands) {
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
    return lines + "help\n";
}

// The very first code of the process that is ours: the executable's pre-initialisers
// run once the dynamic loader has mapped and relocated the libraries, before any
// library's own initialisers (Qt's among them) and before main. From here on SIGINT,
// SIGTERM and SIGHUP are noted rather than ending the process; only the loader's own
// time is left before it (see docs/reliability.md). Not under AddressSanitizer, whose own
// pre-initialiser must run before any call it intercepts (sigaction among them): there
// main's call is the first.
#ifndef __SANITIZE_ADDRESS__
void catchEndSignalsBeforeLibraries(int /*argc*/, char** /*argv*/, char** /*envp*/) {
    cli::catchEndSignals();
}
[[gnu::used, gnu::section(".preinit_array")]] void (*const kCatchFirst)(int, char**, char**) =
    catchEndSignalsBeforeLibraries;
#endif

}  // namespace

int main(int argc, char** argv) {
    using namespace reburn3::cli;
    // Caught already (catchEndSignalsBeforeLibraries); again, should a build or a loader
    // have left the pre-initialisers out: a signal from now on gets its verdict and result.
    cli::catchEndSignals();
    openClosedStandardDescriptors();
    const std::string command = argc > 1 ? argv[1] : "";
    if (command != "flash" && command != "serve") {
        releaseEndSignals();
    }
    if (command == "__complete") {
        std::fputs(completion(argc, argv).c_str(), stdout);
        return kExitCompleted;
    }
    const Command* face = commandNamed(command);
    if (face != nullptr && !face->qt) {
        return face->run(argc, argv);
    }
    // Qt's own event dispatcher rather than glib's: nothing here needs glib, and a
    // device's answer reaches the engine sooner through it.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB")) {
        qputenv("QT_NO_GLIB", "1");
    }
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("reburn3"));
    QCoreApplication::setApplicationVersion(QString::fromStdString(std::string(programVersion())));
    if (face != nullptr) {
        return face->run(argc, argv);
    }
    if (command == "help" && argc > 2) {
        const Command* topic = commandNamed(argv[2]);
        if (topic == nullptr) {
            return usageError("no help on " + std::string(argv[2]), "");
        }
        printHelp(topic->help());
        return kExitCompleted;
    }
    if (command == "-h" || command == "--help" || command == "help") {
        printHelp(std::string(kUsage) + optionHelp(kProgramOptions, 18));
        return kExitCompleted;
    }
    if (command == "-V" || command == "--version") {
        std::printf("%s\n", versionLine("reburn3", qVersion()).c_str());
        return kExitCompleted;
    }
    if (command.empty()) {
        return usageError("no command given", "");
    }
    if (command[0] == '-') {
        return usageError("options go after the command (reburn3 COMMAND [options]); " + command +
                              " is not one before it",
                          "");
    }
    return usageError("unknown command " + command, "");
}
