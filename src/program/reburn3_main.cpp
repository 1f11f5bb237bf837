// SPDX-License-Identifier: Apache-2.0
// reburn3: downloads firmware into an ORX-716 over a serial port, from the command line.
// This is only the dispatcher: it picks the command and hands the words to its face.

#include <QCoreApplication>

#include <cstdio>
#include <string>
#include <vector>

#include "base/option_table.h"
#include "base/version.h"
#include "cli/check_command.h"
#include "cli/command_line.h"
#include "cli/exit_codes.h"
#include "cli/flash_command.h"
#include "cli/signal_watcher.h"
#include "cli/standard_descriptors.h"
#include "serve/serve_command.h"
#include "serve/serve_options.h"
#include "sim/simulate_command.h"

namespace {

using namespace reburn3;

constexpr const char* kUsage =
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
    "`reburn3 help COMMAND`) for a command's options and exit codes.\n"
    "  -h, --help      this help\n"
    "  -V, --version   the version, the commit and the Qt version\n";

// The commands of `reburn3`, in the order its help lists them.
constexpr std::string_view kCommands[] = {"flash", "check", "ports", "serve", "simulate", "help"};

// The table of a command's options; empty for one without.
std::span<const OptionSpec> optionsOf(std::string_view command) {
    if (command == "flash") {
        return cli::flashOptionTable();
    }
    if (command == "check") {
        return cli::checkOptionTable();
    }
    if (command == "ports") {
        return cli::portsOptionTable();
    }
    if (command == "serve") {
        return serve::serveOptionTable();
    }
    if (command == "simulate") {
        return sim::simulateOptions("reburn3 simulate");
    }
    return {};
}

// `reburn3 help COMMAND`: the command's own help.
int helpOn(const std::string& topic) {
    if (topic == "flash") {
        cli::printHelp(cli::flashHelp());
    } else if (topic == "check") {
        cli::printHelp(cli::checkHelp());
    } else if (topic == "ports") {
        cli::printHelp(cli::portsHelp());
    } else if (topic == "serve") {
        cli::printHelp(serve::serveHelp());
    } else if (topic == "simulate") {
        cli::printHelp(sim::simulateUsage("reburn3 simulate"));
    } else {
        return cli::usageError("no help on " + topic, "");
    }
    return cli::kExitCompleted;
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
    // What the shell completion asks: the commands, or a command's options, from the
    // tables the parsers read.
    if (command == "__complete") {
        std::string lines;
        for (const std::string_view c : kCommands) {
            lines += std::string(c) + "\n";
        }
        std::fputs(argc == 2 ? lines.c_str() : completionLines(optionsOf(argv[2])).c_str(), stdout);
        return kExitCompleted;
    }
    // The simulator needs no Qt: it runs its own loop on the pseudo-terminal.
    if (command == "simulate") {
        return sim::simulateCommand(std::vector<std::string>(argv + 2, argv + argc),
                                    "reburn3 simulate");
    }
    // Qt's own event dispatcher rather than glib's: nothing here needs glib, and a
    // device's answer reaches the engine sooner through it.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB")) {
        qputenv("QT_NO_GLIB", "1");
    }
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("reburn3"));
    QCoreApplication::setApplicationVersion(QString::fromStdString(std::string(programVersion())));
    if (command == "flash") {
        return flashCommand(argc, argv);
    }
    if (command == "check") {
        return checkCommand(argc, argv);
    }
    if (command == "ports") {
        return portsCommand(argc, argv);
    }
    if (command == "serve") {
        return serve::serveCommand(argc, argv);
    }
    if (command == "help" && argc > 2) {
        return helpOn(argv[2]);
    }
    if (command == "-h" || command == "--help" || command == "help") {
        printHelp(kUsage);
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
