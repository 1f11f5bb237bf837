// SPDX-License-Identifier: Apache-2.0
// reburn3: downloads firmware into an ORX-716 over a serial port, from the command line.
// This is only the dispatcher: it picks the command and hands the words to its face.

#include <QCoreApplication>

#include <cstdio>
#include <string>

#include "base/version.h"
#include "cli/command_line.h"
#include "program/commands.h"
#include "run/exit_codes.h"
#include "run/signal_watcher.h"
#include "run/standard_descriptors.h"

int main(int argc, char** argv) {
    using namespace reburn3;
    using namespace reburn3::cli;
    using namespace reburn3::program;
    // Caught already on Linux (early_signals_posix.cpp); again, should a build or a loader
    // have left the pre-initialisers out, and first on Windows (the console's Ctrl-C and
    // close): a signal from now on gets its verdict and result.
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
        printHelp(programHelp());
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
