// reburn3: downloads firmware into an ORX-716 over a serial port, from the command line.

#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/exit_codes.h"
#include "cli/flash_command.h"
#include "cli/info_commands.h"
#include "cli/standard_descriptors.h"
#include "serial/port_map.h"
#include "ui/messages.h"

#ifdef REBURN3_HAVE_SIM
#include "sim/simulate_command.h"
#endif

namespace {

using namespace reburn3;
using namespace reburn3::cli;

constexpr const char* kUsage =
    "Usage: reburn3 COMMAND [options]\n"
    "\n"
    "Downloads firmware into an ORX-716 interface device in BURN3 mode.\n"
    "\n"
    "Commands:\n"
    "  flash --port DEVICE|COMn SCRIPT   download SCRIPT (a .pf3 programming script)\n"
    "  check SCRIPT                      check SCRIPT without opening a port\n"
    "  ports                             list the serial ports and the COM1-COM8 map\n"
    "  simulate SCRIPT [options]         run a simulated ORX-716 on a pseudo-terminal\n"
    "\n"
    "Options of flash:\n"
    "  -p, --port DEVICE|COMn   the port: COM1 to COM8 (mapped, see `reburn3 ports`), or a\n"
    "                           device path such as /dev/ttyUSB0\n"
    "  --progress MODE          bar, plain or none; the default is a bar when standard\n"
    "                           error is a terminal, else none\n"
    "  --json                   JSON Lines on standard output: one object per log line,\n"
    "                           then the result\n"
    "  --trace FILE             write every byte sent and received, with its tick, to FILE\n"
    "  --repeat N               N downloads in a row, each a whole session; stops at the\n"
    "                           first failure\n"
    "  --stats                  measure the run: time against the least the protocol\n"
    "                           allows, tick periods, CPU time, peak memory (standard\n"
    "                           error, and in the --json result)\n"
    "  --reactive               verify each answer as soon as it arrives and send the next\n"
    "                           bytes at once instead of at the next 5 ms tick (faster;\n"
    "                           the device must take bytes right after its answer)\n"
    "  --baud RATE              with --stats: measure against the least time on a line\n"
    "                           of RATE baud (the port's line; the simulator's --baud)\n"
    "  --handshake-limit SECONDS\n"
    "                           give up (exit 1) when the handshake has not ended after\n"
    "                           SECONDS because the device keeps sending; default 5,\n"
    "                           0 for no limit (the window waits for ever)\n"
    "\n"
    "Output of flash: status lines on standard output, debug lines on standard error.\n"
    "Ctrl-C, SIGTERM and SIGHUP abort the run like \"Abort Process\" and release the\n"
    "port.\n"
    "Port n is the device in the environment variable ORX716_COMn if set, else\n"
    "/dev/ttyS<n-1>.\n"
    "\n"
    "Options of check: --json, --baud RATE (the least time on a line of RATE baud).\n"
    "Options of ports: --json.\n"
    "Run `reburn3 COMMAND --help` for a command's own help.\n"
    "\n";

constexpr const char* kFlashUsage =
    "Usage: reburn3 flash --port DEVICE|COMn [--progress bar|plain|none] [--json]\n"
    "                     [--trace FILE] [--repeat N] [--stats [--baud RATE]]\n"
    "                     [--reactive] [--handshake-limit SECONDS] SCRIPT\n"
    "\n"
    "Opens the port at 115200 baud 8N1, performs the BURN3 handshake and plays SCRIPT,\n"
    "exactly as the window's \"Program FLASH\" does, on a 5 ms tick.\n"
    "\n";

constexpr const char* kCheckUsage =
    "Usage: reburn3 check [--json] [--baud RATE] SCRIPT\n"
    "\n"
    "Checks the whole of SCRIPT without opening a port: prints its records, script lines,\n"
    "bytes to send and to verify, and the least time a download can take at 5 ms ticks\n"
    "against a device that answers at once; or the faults found (exit 3).\n"
    "Without --baud the line is taken as infinitely fast. With --baud RATE the bytes\n"
    "cross a line of RATE baud at 10 bits a byte: the least time on ticks counts the\n"
    "whole ticks each answer waits for, and the least time with --reactive is the\n"
    "line's own limit.\n"
    "\n";

constexpr const char* kPortsUsage =
    "Usage: reburn3 ports [--json]\n"
    "\n"
    "Lists the serial ports present (name, description, USB vendor:product, serial\n"
    "number) and the COM1 to COM8 map in effect.\n"
    "\n";

void printHelp(const char* usage) {
    std::fputs(usage, stdout);
    std::fputs(std::string(exitCodeHelp()).c_str(), stdout);
}

int usageError(const std::string& message, const char* usage) {
    std::fprintf(stderr, "reburn3: %s\n\n%s", message.c_str(), usage);
    std::fputs(std::string(exitCodeHelp()).c_str(), stderr);
    return kExitUsage;
}

// Parses the words after the command name. False, with the message, on a usage error.
// A line rate for --baud. False when it is not a whole number from 1 to 10000000.
bool parseBaud(const QString& word, std::uint32_t& baud) {
    bool ok = false;
    const qulonglong value = word.toULongLong(&ok);
    if (!ok || value < 1 || value > 10'000'000) {
        return false;
    }
    baud = static_cast<std::uint32_t>(value);
    return true;
}
constexpr const char* kBaudError = "--baud takes a line rate in baud, 1 to 10000000";

bool parseCommand(QCommandLineParser& parser, const char* command, int argc, char** argv,
                  QString& error) {
    QStringList words{QStringLiteral("reburn3 ") + QString::fromLatin1(command)};
    for (int i = 2; i < argc; ++i) {
        words << QString::fromLocal8Bit(argv[i]);
    }
    if (!parser.parse(words)) {
        error = parser.errorText();
        return false;
    }
    return true;
}

int flashCommand(int argc, char** argv) {
    QCommandLineParser parser;
    const QCommandLineOption help({"h", "help"}, "help");
    const QCommandLineOption port({"p", "port"}, "port", "DEVICE");
    const QCommandLineOption progress("progress", "progress", "MODE");
    const QCommandLineOption json("json", "json");
    const QCommandLineOption trace("trace", "trace", "FILE");
    const QCommandLineOption repeat("repeat", "repeat", "N");
    const QCommandLineOption stats("stats", "stats");
    const QCommandLineOption reactive("reactive", "reactive");
    const QCommandLineOption handshakeLimit("handshake-limit", "handshake-limit", "SECONDS");
    const QCommandLineOption baud("baud", "baud", "RATE");
    parser.addOptions(
        {help, port, progress, json, trace, repeat, stats, reactive, handshakeLimit, baud});
    QString error;
    if (!parseCommand(parser, "flash", argc, argv, error)) {
        return usageError(error.toStdString(), kFlashUsage);
    }
    if (parser.isSet(help)) {
        printHelp(kFlashUsage);
        return kExitCompleted;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1) {
        return usageError(positional.isEmpty() ? "no script given" : "give exactly one script",
                          kFlashUsage);
    }
    if (!parser.isSet(port) || parser.value(port).isEmpty()) {
        return usageError("no port given (--port COMn or --port DEVICE)", kFlashUsage);
    }
    FlashOptions options;
    options.port = parser.value(port).toStdString();
    options.script = positional.front().toStdString();
    options.json = parser.isSet(json);
    options.tracePath = parser.value(trace).toStdString();
    options.stats = parser.isSet(stats);
    options.reactive = parser.isSet(reactive);
    if (parser.isSet(baud) && !parseBaud(parser.value(baud), options.lineBaud)) {
        return usageError(kBaudError, kFlashUsage);
    }
    if (parser.isSet(repeat)) {
        bool ok = false;
        options.repeat = parser.value(repeat).toInt(&ok);
        if (!ok || options.repeat < 1) {
            return usageError("--repeat takes a number of downloads, 1 or more", kFlashUsage);
        }
    }
    if (parser.isSet(handshakeLimit)) {
        bool ok = false;
        options.handshakeLimitSeconds = parser.value(handshakeLimit).toDouble(&ok);
        if (!ok || !(options.handshakeLimitSeconds == 0.0 ||
                     (options.handshakeLimitSeconds >= HandshakeLimit::kLeastSeconds &&
                      options.handshakeLimitSeconds <= 86400.0))) {
            return usageError("--handshake-limit takes seconds, 1 to 86400, or 0 for no limit",
                              kFlashUsage);
        }
    }
    const QString mode = parser.isSet(progress) ? parser.value(progress) : QStringLiteral("auto");
    if (mode == "bar") {
        options.progress = ProgressMode::Bar;
    } else if (mode == "plain") {
        options.progress = ProgressMode::Plain;
    } else if (mode == "none") {
        options.progress = ProgressMode::None;
    } else if (mode == "auto") {
        options.progress = ::isatty(STDERR_FILENO) != 0 ? ProgressMode::Bar : ProgressMode::None;
    } else {
        return usageError("--progress takes bar, plain or none", kFlashUsage);
    }
    // "COM9" or "COM" is a mistyped port number, not a file in the current directory.
    const std::string& p = options.port;
    if (p.size() >= 3 && QString::fromStdString(p.substr(0, 3)).toUpper() == "COM" &&
        p.find('/') == std::string::npos && !parseComName(p).has_value()) {
        return usageError("the port must be COM1 to COM8 or a device path", kFlashUsage);
    }
    return runFlash(options);
}

int simpleCommand(const char* command, const char* usage, int argc, char** argv, bool takesScript,
                  int (*run)(const std::string&, bool)) {
    QCommandLineParser parser;
    const QCommandLineOption help({"h", "help"}, "help");
    const QCommandLineOption json("json", "json");
    parser.addOptions({help, json});
    QString error;
    if (!parseCommand(parser, command, argc, argv, error)) {
        return usageError(error.toStdString(), usage);
    }
    if (parser.isSet(help)) {
        printHelp(usage);
        return kExitCompleted;
    }
    const QStringList positional = parser.positionalArguments();
    if (takesScript && positional.size() != 1) {
        return usageError(positional.isEmpty() ? "no script given" : "give exactly one script",
                          usage);
    }
    if (!takesScript && !positional.isEmpty()) {
        return usageError("unexpected argument " + positional.front().toStdString(), usage);
    }
    return run(takesScript ? positional.front().toStdString() : std::string(), parser.isSet(json));
}

int checkCommand(int argc, char** argv) {
    QCommandLineParser parser;
    const QCommandLineOption help({"h", "help"}, "help");
    const QCommandLineOption json("json", "json");
    const QCommandLineOption baud("baud", "baud", "RATE");
    parser.addOptions({help, json, baud});
    QString error;
    if (!parseCommand(parser, "check", argc, argv, error)) {
        return usageError(error.toStdString(), kCheckUsage);
    }
    if (parser.isSet(help)) {
        printHelp(kCheckUsage);
        return kExitCompleted;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1) {
        return usageError(positional.isEmpty() ? "no script given" : "give exactly one script",
                          kCheckUsage);
    }
    std::uint32_t lineBaud = 0;
    if (parser.isSet(baud) && !parseBaud(parser.value(baud), lineBaud)) {
        return usageError(kBaudError, kCheckUsage);
    }
    return runCheck(positional.front().toStdString(), parser.isSet(json), lineBaud);
}
int portsCommand(const std::string& /*unused*/, bool json) {
    return runPorts(json);
}

}  // namespace

int main(int argc, char** argv) {
    openClosedStandardDescriptors();
    const std::string command = argc > 1 ? argv[1] : "";

    // The simulator needs no Qt: it runs its own loop on the pseudo-terminal.
    if (command == "simulate") {
#ifdef REBURN3_HAVE_SIM
        return reburn3::sim::simulateCommand(std::vector<std::string>(argv + 2, argv + argc));
#else
        std::fputs("reburn3: this build has no simulator\n", stderr);
        return kExitUsage;
#endif
    }

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("reburn3"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.00"));

    if (command == "flash") {
        return flashCommand(argc, argv);
    }
    if (command == "check") {
        return checkCommand(argc, argv);
    }
    if (command == "ports") {
        return simpleCommand("ports", kPortsUsage, argc, argv, false, portsCommand);
    }
    if (command == "-h" || command == "--help" || command == "help") {
        printHelp(kUsage);
        return kExitCompleted;
    }
    if (command == "-v" || command == "--version") {
        std::printf("reburn3 %d.%02d\n", text::kVersionMajor, text::kVersionMinor);
        return kExitCompleted;
    }
    if (command.empty()) {
        return usageError("no command given", kUsage);
    }
    return usageError("unknown command " + command, kUsage);
}
