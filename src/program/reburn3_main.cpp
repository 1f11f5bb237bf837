// SPDX-License-Identifier: Apache-2.0
// reburn3: downloads firmware into an ORX-716 over a serial port, from the command line.

#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/command_options.h"
#include "app/version.h"
#include "base/messages.h"
#include "cli/flash_command.h"
#include "cli/info_commands.h"
#include "cli/terminal_listener.h"
#include "run/exit_codes.h"
#include "run/option_table.h"
#include "run/port_identity.h"
#include "run/signal_watcher.h"
#include "run/standard_descriptors.h"
#include "run/verdict.h"
#include "serial/port_map.h"

#include "serve/serve_command.h"
#include "serve/serve_options.h"
#include "sim/simulate_command.h"

namespace {

using namespace reburn3;
using namespace reburn3::cli;

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

constexpr const char* kFlashUsage =
    "Usage: reburn3 flash --port DEVICE|COMn [options] [--] SCRIPT\n"
    "\n"
    "Opens the port at 115200 baud 8N1, performs the BURN3 handshake and plays\n"
    "SCRIPT, exactly as the window's \"Program FLASH\" does, on a 5 ms tick.\n"
    "\n"
    "Options:\n"
    "  -p, --port DEVICE|COMn  the port: COM1 to COM8 (mapped, see `reburn3 ports`),\n"
    "                          or a device path such as /dev/ttyUSB0; repeat it (or\n"
    "                          give a comma list) to download to several ports at\n"
    "                          once, each line then starting with \"[PORT] \"; or a\n"
    "                          board by identity: serial=NUMBER (see `reburn3\n"
    "                          ports`) or a name pattern in /dev/serial/by-id or\n"
    "                          by-path such as 'usb-FTDI_*A12345*', which must\n"
    "                          match exactly one device\n"
    "  --station[=enter|replug]\n"
    "                          round after round until q, end of input or Ctrl-C:\n"
    "                          between rounds wait for Enter, or with =replug for\n"
    "                          every port to be unplugged and plugged again\n"
    "  --retries N             start a run again after a failed handshake, up to N\n"
    "                          times, while no script byte has gone out (default 0);\n"
    "                          each new attempt first waits for the line to be quiet\n"
    "                          for --retry-quiet\n"
    "  --retry-quiet SECONDS   the quiet line a new attempt waits for, from its last\n"
    "                          byte (default 2): a late answer to the attempt before\n"
    "                          must come within it, or it may pass for the next\n"
    "                          attempt's answer; 0.3 to 60\n"
    "  --wait-for-port SECONDS\n"
    "                          wait until the port exists, opens and is not held by\n"
    "                          another process (an adapter that enumerates late, a\n"
    "                          port still in use); exit 4 when the time is up\n"
    "  --progress MODE         bar, plain or none; the default is a bar when\n"
    "                          standard error is a terminal, else none; plain lines\n"
    "                          instead of the bar when TERM is dumb\n"
    "  --json                  JSON Lines on standard output: every log line,\n"
    "                          progress events (about ten a second at most) and the\n"
    "                          result; with several ports each port's result, then\n"
    "                          a summary of the command\n"
    "  -q, --quiet             only the last line (the verdict) and errors\n"
    "  --log FILE              append one JSON line per download to FILE (created if\n"
    "                          need be, synced to the disk as written, whole or not\n"
    "                          at all); FILE is a regular file (append-only ones\n"
    "                          too) or /dev/null; a FILE that is something else (a\n"
    "                          FIFO, a device), that is the script, a port or the\n"
    "                          trace, or that cannot be written or take a line ends\n"
    "                          the command before the port opens (exit 2); a line\n"
    "                          that cannot be written fails the command (exit 5)\n"
    "  --tag KEY=VALUE         a tag for the --log line and the --json result; may\n"
    "                          be given more than once, each KEY once; VALUE is\n"
    "                          UTF-8 text\n"
    "  --expect-sha256 HEX     refuse SCRIPT unless its SHA-256 is HEX (exit 3; the\n"
    "                          port is not opened); `reburn3 check` prints it; the\n"
    "                          bytes hashed are the bytes played, whatever happens\n"
    "                          to the file on disk meanwhile\n"
    "  --trace FILE            write every byte sent and received, with its tick, to\n"
    "                          FILE as the run goes: a regular file, /dev/null, or\n"
    "                          the command's standard output or error (/dev/stdout,\n"
    "                          not with --json); anything else, or the script, a\n"
    "                          port or the log, ends the command before the port\n"
    "                          opens (exit 2); a trace that lost bytes (a full disk)\n"
    "                          fails the command (exit 5)\n"
    "  --repeat N              N downloads in a row, each a whole session; stops at\n"
    "                          the first failure\n"
    "  --stats                 measure the run: time against the least the protocol\n"
    "                          allows, tick periods, CPU time, peak memory (standard\n"
    "                          error, and in the --json result)\n"
    "  --baud RATE             with --stats: measure against the least time on a\n"
    "                          line of RATE baud (the port's line; the simulator's\n"
    "                          --baud)\n"
    "  --reactive              verify each answer as soon as it arrives and send the\n"
    "                          next bytes at once instead of at the next 5 ms tick\n"
    "                          (faster; the device must take bytes right after its\n"
    "                          answer)\n"
    "  --handshake-limit SECONDS\n"
    "                          give up (exit 1) when the handshake has not ended\n"
    "                          after SECONDS because the device keeps sending;\n"
    "                          default 5, 0 for no limit (the window waits for ever)\n"
    "  --require-ack           fail (exit 1) rather than complete when the device\n"
    "                          did not answer for every byte: a script that ends\n"
    "                          in T records, whose last bytes no answer proves\n"
    "  -h, --help              this help\n"
    "  --                      ends the options: a SCRIPT named \"-x.pf3\" follows it\n"
    "\n"
    "Output: the first line on standard error names the version, the device, the\n"
    "script and its SHA-256; status lines go to standard output, debug lines to\n"
    "standard error; the last line on standard error, \"reburn3: DONE\", \"FAILED\"\n"
    "or \"INTERRUPTED\", says what happened, whether the device was touched and\n"
    "what to do.\n"
    "Ctrl-C, SIGTERM and SIGHUP abort the run like \"Abort Process\" and release\n"
    "the port; once the last line is written they no longer change the exit code.\n"
    "Port n is the device in the environment variable ORX716_COMn if set, else\n"
    "/dev/ttyS<n-1>.\n"
    "\n";

constexpr const char* kCheckUsage =
    "Usage: reburn3 check [--json] [--baud RATE] [--] SCRIPT\n"
    "\n"
    "Checks the whole of SCRIPT without opening a port: prints its SHA-256 (as\n"
    "`flash --expect-sha256` takes it), records, script lines, bytes to send and to\n"
    "verify, and the least time a download can take at 5 ms ticks against a device\n"
    "that answers at once; or the faults found (exit 3), and a hint when the file\n"
    "looks like a known wrong format.\n"
    "Without --baud the line is taken as infinitely fast. With --baud RATE the\n"
    "bytes cross a line of RATE baud at 10 bits a byte: the least time on ticks\n"
    "counts the whole ticks each answer waits for, and the least time with\n"
    "--reactive is the line's own limit.\n"
    "\n"
    "Options:\n"
    "  --json       one JSON object on standard output (also for a usage error);\n"
    "               faults as {record, offset, message}\n"
    "  --baud RATE  the least times on a line of RATE baud (1 to 10000000)\n"
    "  -h, --help   this help\n"
    "  --           ends the options\n"
    "\n";

constexpr const char* kPortsUsage =
    "Usage: reburn3 ports [--json]\n"
    "\n"
    "Lists the serial ports present (name, description, USB vendor:product, serial\n"
    "number) and the COM1 to COM8 map in effect.\n"
    "\n"
    "Options:\n"
    "  --json       one JSON object on standard output\n"
    "  -h, --help   this help\n"
    "\n"
    "Exit codes:\n"
    "  0    listed\n"
    "  2    usage error\n";

// A command's help and its own table of exit codes.
void printHelp(const char* usage, std::string_view exitCodes = {}) {
    std::fputs(usage, stdout);
    if (!exitCodes.empty()) {
        std::fwrite(exitCodes.data(), 1, exitCodes.size(), stdout);
    }
}

// One line: what was wrong and where the help is.
int usageError(const std::string& message, const char* command) {
    std::fprintf(stderr, "reburn3: %s (see `reburn3 %s--help`)\n", message.c_str(), command);
    return kExitUsage;
}

// True when `--json` was among the options (before a `--`).
bool jsonAsked(int argc, char** argv) {
    for (int i = 2; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--") {
            return false;
        }
        if (word == "--json") {
            return true;
        }
    }
    return false;
}

// A usage error of flash: the line, and with --json the result as well, so that a
// program reading the JSON is never left without one.
int flashUsageError(const std::string& message, int argc, char** argv) {
    usageError(message, "flash ");
    if (jsonAsked(argc, argv)) {
        FlashOptions options;
        options.json = true;
        reportNotStarted(RunReason::Usage, message, options);
    }
    return kExitUsage;
}

// A usage error of check or ports: the line, and with --json a line of the command's own
// type saying so, so that a program reading the JSON is never left without one.
int infoUsageError(const std::string& message, const char* command, int argc, char** argv) {
    usageError(message, (std::string(command) + " ").c_str());
    if (jsonAsked(argc, argv)) {
        QJsonObject o;
        o.insert("type", QString::fromLatin1(command));
        o.insert("result", "usage-error");
        o.insert("error", QString::fromLocal8Bit(message.c_str()));
        o.insert("exitCode", kExitUsage);
        std::printf("%s\n", QJsonDocument(o).toJson(QJsonDocument::Compact).constData());
    }
    return kExitUsage;
}

// KEY=VALUE, with a key of letters, digits, '-', '_' or '.'.
bool parseTag(const std::string& tag, Tags& tags) {
    const std::size_t eq = tag.find('=');
    if (eq == 0 || eq == std::string::npos) {
        return false;
    }
    const std::string key = tag.substr(0, eq);
    for (const char c : key) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
        if (!ok) {
            return false;
        }
    }
    tags.emplace_back(key, tag.substr(eq + 1));
    return true;
}

// The values of --tag as given, byte for byte (the parser's would have had bytes that
// are not text replaced): "--tag K=V" and "--tag=K=V", up to "--".
std::vector<std::string> rawTagWords(const std::vector<std::string>& raw) {
    constexpr std::string_view kJoined = "--tag=";
    std::vector<std::string> words;
    for (std::size_t i = 0; i < raw.size() && raw[i] != "--"; ++i) {
        if (raw[i] == "--tag" && i + 1 < raw.size()) {
            words.push_back(raw[++i]);
        } else if (raw[i].rfind(kJoined, 0) == 0) {
            words.push_back(raw[i].substr(kJoined.size()));
        }
    }
    return words;
}

bool isUtf8(const std::string& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8);
    [[maybe_unused]] const QString text = decoder.decode(QByteArrayView(bytes));
    return !decoder.hasError();
}

// 64 hex digits, returned in lower case; empty when it is not a SHA-256.
std::string parseSha256(const std::string& text) {
    if (text.size() != 64) {
        return {};
    }
    std::string out = text;
    for (char& c : out) {
        if (c >= 'A' && c <= 'F') {
            c = static_cast<char>(c - 'A' + 'a');
        } else if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return {};
        }
    }
    return out;
}

// True when TERM says the terminal cannot take escape codes.
bool dumbTerminal() {
    const QByteArray term = qgetenv("TERM");
    return term.isEmpty() || term == "dumb";
}

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

// The words after the command name as given, byte for byte, and the pieces of them that
// the locale's encoding cannot carry as text (a file name that is not valid UTF-8).
struct RawWords {
    std::vector<std::string> words;
    std::vector<std::string> pieces;
};

// The parser reads text: a piece of a word that would not come back as the same bytes
// stands in it as a token of its own, U+FDD0 NUMBER U+FDD1 (non-characters, which no
// file name typed as text holds), and rawWord() puts the bytes back. Two names that
// differ only in bytes that are not text stay two names.
QString tokenFor(RawWords& raw, const std::string& piece) {
    raw.pieces.push_back(piece);
    return QChar(0xFDD0) + QString::number(raw.pieces.size() - 1) + QChar(0xFDD1);
}

QString wordForParser(RawWords& raw, const std::string& word) {
    const QString text = QString::fromLocal8Bit(word.c_str());
    if (text.toLocal8Bit().toStdString() == word) {
        return text;
    }
    if (word.rfind('-', 0) == 0) {
        // "--trace=BYTES": the option's name as text, its value as a token. An option's
        // name is never anything but text.
        const std::size_t eq = word.find('=');
        if (eq == std::string::npos) {
            return text;
        }
        return QString::fromLocal8Bit(word.substr(0, eq + 1).c_str()) +
               tokenFor(raw, word.substr(eq + 1));
    }
    return tokenFor(raw, word);
}

// Parses the words after the command name. False, with the message, on a usage error.
// `raw` keeps the words as the bytes given, so that a file name that is not valid text
// opens as it was typed.
bool parseCommand(QCommandLineParser& parser, const char* command, int argc, char** argv,
                  QString& error, RawWords& raw) {
    raw = {};
    QStringList words{QStringLiteral("reburn3 ") + QString::fromLatin1(command)};
    for (int i = 2; i < argc; ++i) {
        raw.words.emplace_back(argv[i]);
        words << wordForParser(raw, raw.words.back());
    }
    if (!parser.parse(words)) {
        error = parser.errorText();
        return false;
    }
    return true;
}

// The bytes of a value the parser read: its text in the locale's encoding, with every
// token put back as the bytes it stands for.
std::string rawWord(const RawWords& raw, const QString& value) {
    std::string bytes;
    qsizetype from = 0;
    while (from < value.size()) {
        const qsizetype open = value.indexOf(QChar(0xFDD0), from);
        const qsizetype close = open < 0 ? -1 : value.indexOf(QChar(0xFDD1), open);
        bool ok = false;
        const qsizetype index =
            close < 0 ? -1 : value.mid(open + 1, close - open - 1).toLongLong(&ok);
        if (!ok || index < 0 || index >= static_cast<qsizetype>(raw.pieces.size())) {
            bytes += value.mid(from).toLocal8Bit().toStdString();
            break;
        }
        bytes += value.mid(from, open - from).toLocal8Bit().toStdString();
        bytes += raw.pieces[static_cast<std::size_t>(index)];
        from = close + 1;
    }
    return bytes;
}

// "--station" alone stands for "--station=enter" (the parser knows no optional value).
std::vector<char*> withStationMode(int argc, char** argv) {
    static char kEnter[] = "--station=enter";
    std::vector<char*> words(argv, argv + argc);
    for (int i = 2; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--") {
            break;
        }
        if (std::string_view(argv[i]) == "--station") {
            words[static_cast<std::size_t>(i)] = kEnter;
        }
    }
    words.push_back(nullptr);
    return words;
}

// Every --port, each also a comma list: "--port A --port B,C".
std::vector<std::string> portsOf(const RawWords& raw, const QStringList& values) {
    std::vector<std::string> ports;
    for (const QString& value : values) {
        const std::string word = rawWord(raw, value);
        std::size_t from = 0;
        while (from <= word.size()) {
            const std::size_t comma = word.find(',', from);
            const std::size_t end = comma == std::string::npos ? word.size() : comma;
            ports.push_back(word.substr(from, end - from));
            from = end + 1;
        }
    }
    return ports;
}

int flashCommand(int argcGiven, char** argvGiven) {
    std::vector<char*> words = withStationMode(argcGiven, argvGiven);
    const int argc = argcGiven;
    char** argv = words.data();
    QCommandLineParser parser;
    addOptions(parser, "flash");
    const QString help = "help", port = "port", progress = "progress", json = "json",
                  quiet = "quiet", log = "log", tag = "tag", expectSha = "expect-sha256",
                  trace = "trace", repeat = "repeat", stats = "stats", reactive = "reactive",
                  handshakeLimit = "handshake-limit", retries = "retries",
                  retryQuiet = "retry-quiet", requireAck = "require-ack",
                  waitForPort = "wait-for-port", station = "station", baud = "baud";
    QString error;
    RawWords raw;
    if (!parseCommand(parser, "flash", argc, argv, error, raw)) {
        return flashUsageError(error.toStdString(), argc, argv);
    }
    if (parser.isSet(help)) {
        printHelp(kFlashUsage, exitCodeHelp());
        return kExitCompleted;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1) {
        return flashUsageError(positional.isEmpty() ? "no script given" : "give exactly one script",
                               argc, argv);
    }
    if (!parser.isSet(port) || parser.value(port).isEmpty()) {
        return flashUsageError("no port given (--port COMn or --port DEVICE)", argc, argv);
    }
    FlashOptions options;
    options.ports = portsOf(raw, parser.values(port));
    options.port = options.ports.front();
    for (std::size_t i = 0; i < options.ports.size(); ++i) {
        if (options.ports[i].empty()) {
            return flashUsageError("an empty port in --port", argc, argv);
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (options.ports[j] == options.ports[i]) {
                return flashUsageError("the port " + options.ports[i] + " is given twice", argc,
                                       argv);
            }
        }
    }
    options.script = rawWord(raw, positional.front());
    options.json = parser.isSet(json);
    options.quiet = parser.isSet(quiet);
    options.tracePath = parser.isSet(trace) ? rawWord(raw, parser.value(trace)) : std::string();
    options.logPath = parser.isSet(log) ? rawWord(raw, parser.value(log)) : std::string();
    options.stats = parser.isSet(stats);
    options.reactive = parser.isSet(reactive);
    if (parser.isSet(baud) && !parseBaud(parser.value(baud), options.lineBaud)) {
        return flashUsageError(kBaudError, argc, argv);
    }
    for (const std::string& t : rawTagWords(raw.words)) {
        if (!parseTag(t, options.tags)) {
            return flashUsageError("--tag takes KEY=VALUE", argc, argv);
        }
        if (!isUtf8(t)) {
            return flashUsageError("--tag " + displayName(t) +
                                       " is not UTF-8 text; the log and the JSON result take "
                                       "tags as text only",
                                   argc, argv);
        }
        const std::string& key = options.tags.back().first;
        for (std::size_t i = 0; i + 1 < options.tags.size(); ++i) {
            if (options.tags[i].first == key) {
                return flashUsageError("the tag " + key + " is given twice", argc, argv);
            }
        }
    }
    if (parser.isSet(expectSha)) {
        options.expectSha256 = parseSha256(parser.value(expectSha).toStdString());
        if (options.expectSha256.empty()) {
            return flashUsageError("--expect-sha256 takes 64 hex digits", argc, argv);
        }
    }
    if (parser.isSet(repeat)) {
        bool ok = false;
        options.repeat = parser.value(repeat).toInt(&ok);
        if (!ok || options.repeat < 1) {
            return flashUsageError("--repeat takes a number of downloads, 1 or more", argc, argv);
        }
    }
    if (parser.isSet(handshakeLimit)) {
        bool ok = false;
        options.handshakeLimitSeconds = parser.value(handshakeLimit).toDouble(&ok);
        if (!ok || !(options.handshakeLimitSeconds == 0.0 ||
                     (options.handshakeLimitSeconds >= HandshakeLimit::kLeastSeconds &&
                      options.handshakeLimitSeconds <= 86400.0))) {
            return flashUsageError("--handshake-limit takes seconds, 1 to 86400, or 0 for no limit",
                                   argc, argv);
        }
    }
    if (parser.isSet(retries)) {
        bool ok = false;
        options.retries = parser.value(retries).toInt(&ok);
        if (!ok || options.retries < 0 || options.retries > 100) {
            return flashUsageError("--retries takes a number, 0 to 100", argc, argv);
        }
    }
    if (parser.isSet(retryQuiet)) {
        bool ok = false;
        options.retryQuietSeconds = parser.value(retryQuiet).toDouble(&ok);
        if (!ok || !(options.retryQuietSeconds >= 0.3 && options.retryQuietSeconds <= 60.0)) {
            return flashUsageError("--retry-quiet takes seconds, 0.3 to 60", argc, argv);
        }
    }
    options.requireAck = parser.isSet(requireAck);
    if (parser.isSet(waitForPort)) {
        bool ok = false;
        options.waitForPortSeconds = parser.value(waitForPort).toDouble(&ok);
        if (!ok || !(options.waitForPortSeconds > 0.0 && options.waitForPortSeconds <= 86400.0)) {
            return flashUsageError("--wait-for-port takes seconds, more than 0, at most 86400",
                                   argc, argv);
        }
    }
    if (parser.isSet(station)) {
        const QString value = parser.value(station);
        if (value == "enter") {
            options.station = StationMode::Enter;
        } else if (value == "replug") {
            options.station = StationMode::Replug;
        } else {
            return flashUsageError("--station takes nothing, or =enter or =replug", argc, argv);
        }
        if (options.repeat > 1) {
            return flashUsageError("--station and --repeat do not go together", argc, argv);
        }
    }
    if (options.ports.size() > 1 && !options.tracePath.empty()) {
        return flashUsageError("--trace takes a single port", argc, argv);
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
        return flashUsageError("--progress takes bar, plain or none", argc, argv);
    }
    // A terminal that cannot move its cursor (TERM=dumb: an editor's shell, a serial
    // console) gets progress lines, never the bar's escape codes.
    if (options.progress == ProgressMode::Bar && dumbTerminal()) {
        options.progress = ProgressMode::Plain;
    }
    // "COM9" or "COM" is a mistyped port number, not a file in the current directory.
    for (const std::string& p : options.ports) {
        if (p.size() >= 3 && QString::fromStdString(p.substr(0, 3)).toUpper() == "COM" &&
            p.find('/') == std::string::npos && !parseComName(p).has_value()) {
            return flashUsageError("the port must be COM1 to COM8 or a device path", argc, argv);
        }
    }
    // A board named by identity: the one device it names, before anything starts.
    for (std::string& p : options.ports) {
        if (!parseComName(p).has_value() && namesByIdentity(p)) {
            std::string problem;
            const std::optional<std::string> device = resolveIdentity(p, problem);
            if (!device) {
                options.port = p;
                reportNotStarted(RunReason::PortOpenFailed, problem, options);
                return kExitPortFailed;
            }
            p = *device;
        }
    }
    options.port = options.ports.front();
    return runFlash(options);
}

int simpleCommand(const char* command, const char* usage, std::string_view exitCodes, int argc,
                  char** argv, bool takesScript, int (*run)(const std::string&, bool)) {
    QCommandLineParser parser;
    addOptions(parser, command);
    const QString help = "help", json = "json";
    QString error;
    RawWords raw;
    if (!parseCommand(parser, command, argc, argv, error, raw)) {
        return infoUsageError(error.toStdString(), command, argc, argv);
    }
    if (parser.isSet(help)) {
        printHelp(usage, exitCodes);
        return kExitCompleted;
    }
    const QStringList positional = parser.positionalArguments();
    if (takesScript && positional.size() != 1) {
        return infoUsageError(positional.isEmpty() ? "no script given" : "give exactly one script",
                              command, argc, argv);
    }
    if (!takesScript && !positional.isEmpty()) {
        return infoUsageError("unexpected argument " + positional.front().toStdString(), command,
                              argc, argv);
    }
    return run(takesScript ? rawWord(raw, positional.front()) : std::string(), parser.isSet(json));
}

int checkCommand(int argc, char** argv) {
    QCommandLineParser parser;
    addOptions(parser, "check");
    const QString help = "help", json = "json", baud = "baud";
    QString error;
    RawWords raw;
    if (!parseCommand(parser, "check", argc, argv, error, raw)) {
        return infoUsageError(error.toStdString(), "check", argc, argv);
    }
    if (parser.isSet(help)) {
        printHelp(kCheckUsage, checkExitCodeHelp());
        return kExitCompleted;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1) {
        return infoUsageError(positional.isEmpty() ? "no script given" : "give exactly one script",
                              "check", argc, argv);
    }
    std::uint32_t lineBaud = 0;
    if (parser.isSet(baud) && !parseBaud(parser.value(baud), lineBaud)) {
        return infoUsageError(kBaudError, "check", argc, argv);
    }
    return runCheck(rawWord(raw, positional.front()), parser.isSet(json), lineBaud);
}
int portsCommand(const std::string& /*unused*/, bool json) {
    return runPorts(json);
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
    catchEndSignals();
}
[[gnu::used, gnu::section(".preinit_array")]] void (*const kCatchFirst)(int, char**, char**) =
    catchEndSignalsBeforeLibraries;
#endif

}  // namespace

int main(int argc, char** argv) {
    // Caught already (catchEndSignalsBeforeLibraries); again, should a build or a loader
    // have left the pre-initialisers out: a signal from now on gets its verdict and result.
    catchEndSignals();
    openClosedStandardDescriptors();
    const std::string command = argc > 1 ? argv[1] : "";
    if (command != "flash" && command != "serve") {
        releaseEndSignals();
    }

    // What the shell completion asks: the commands, or a command's options, from the
    // tables the parsers read.
    if (command == "__complete") {
        if (argc == 2) {
            for (const std::string_view c : kCommands) {
                std::printf("%.*s\n", static_cast<int>(c.size()), c.data());
            }
            return kExitCompleted;
        }
        std::fputs(completionLines(commandOptions(argv[2])).c_str(), stdout);
        return kExitCompleted;
    }

    // The simulator needs no Qt: it runs its own loop on the pseudo-terminal.
    if (command == "simulate") {
        return reburn3::sim::simulateCommand(std::vector<std::string>(argv + 2, argv + argc),
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
    if (command == "serve") {
        reburn3::cli::TerminalListener terminal;
        return reburn3::serve::serveCommand(argc, argv, terminal);
    }
    if (command == "ports") {
        return simpleCommand("ports", kPortsUsage, {}, argc, argv, false, portsCommand);
    }
    if (command == "help" && argc > 2) {
        const std::string topic = argv[2];
        if (topic == "flash") {
            printHelp(kFlashUsage, exitCodeHelp());
        } else if (topic == "check") {
            printHelp(kCheckUsage, checkExitCodeHelp());
        } else if (topic == "ports") {
            printHelp(kPortsUsage);
        } else if (topic == "serve") {
            printHelp(reburn3::serve::kServeUsage);
        } else if (topic == "simulate") {
            std::fputs(reburn3::sim::simulateUsage("reburn3 simulate").c_str(), stdout);
        } else {
            return usageError("no help on " + topic, "");
        }
        return kExitCompleted;
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
