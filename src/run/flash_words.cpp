// SPDX-License-Identifier: Apache-2.0
#include "run/flash_words.h"

#include <unistd.h>

#include <QByteArray>
#include <QString>
#include <QStringDecoder>

#include <limits>

#include "run/handshake_limit.h"
#include "run/port_path.h"
#include "run/verdict.h"
#include "serial/port_map.h"

namespace reburn3::run {

namespace {

constexpr OptionSpec kFlashOptions[] = {
    OptionSpec("port", 'p')
        .takes(OptionValue::Port, "DEVICE|COMn")
        .says("the port: COM1 to COM8 (mapped, see `reburn3 ports`),\n"
              "or a device path such as /dev/ttyUSB0; repeat it (or\n"
              "give a comma list) to download to several ports at\n"
              "once, each line then starting with \"[PORT] \"; or a\n"
              "board by identity: serial=NUMBER (see `reburn3\n"
              "ports`) or a name pattern in /dev/serial/by-id or\n"
              "by-path such as 'usb-FTDI_*A12345*', which must\n"
              "match exactly one device"),
    OptionSpec("station")
        .takes(OptionValue::OptionalChoice, "MODE")
        .among("enter replug")
        .refusing("--station takes nothing, or =enter or =replug")
        .says("round after round until q, end of input or Ctrl-C:\n"
              "between rounds wait for Enter, or with =replug for\n"
              "every port to be unplugged and plugged again"),
    OptionSpec("retries")
        .takes(OptionValue::Integer, "N")
        .between(0, 100)
        .refusing("--retries takes a number, 0 to 100")
        .says("start a run again after a failed handshake, up to N\n"
              "times, while no script byte has gone out (default 0);\n"
              "each new attempt first waits for the line to be quiet\n"
              "for --retry-quiet"),
    OptionSpec("retry-quiet")
        .takes(OptionValue::Decimal, "SECONDS")
        .between(0.3, 60)
        .refusing("--retry-quiet takes seconds, 0.3 to 60")
        .says("the quiet line a new attempt waits for, from its last\n"
              "byte (default 2): a late answer to the attempt before\n"
              "must come within it, or it may pass for the next\n"
              "attempt's answer; 0.3 to 60"),
    OptionSpec("wait-for-port")
        .takes(OptionValue::Decimal, "SECONDS")
        .above(0, 86'400)
        .refusing("--wait-for-port takes seconds, more than 0, at most 86400")
        .says("wait until the port exists, opens and is not held by\n"
              "another process (an adapter that enumerates late, a\n"
              "port still in use); exit 4 when the time is up"),
    OptionSpec("progress")
        .takes(OptionValue::Choice, "MODE")
        .among("bar plain none")
        .refusing("--progress takes bar, plain or none")
        .says("bar, plain or none; the default is a bar when\n"
              "standard error is a terminal, else none; plain lines\n"
              "instead of the bar when TERM is dumb"),
    OptionSpec("json").says("JSON Lines on standard output: every log line,\n"
                            "progress events (about ten a second at most) and the\n"
                            "result; with several ports each port's result, then\n"
                            "a summary of the command"),
    OptionSpec("quiet", 'q').says("only the last line (the verdict) and errors"),
    OptionSpec("log")
        .takes(OptionValue::File, "FILE")
        .says("append one JSON line per download to FILE (created if\n"
              "need be, synced to the disk as written, whole or not\n"
              "at all); FILE is a regular file (append-only ones\n"
              "too) or /dev/null; a FILE that is something else (a\n"
              "FIFO, a device), that is the script, a port or the\n"
              "trace, or that cannot be written or take a line ends\n"
              "the command before the port opens (exit 2); a line\n"
              "that cannot be written fails the command (exit 5)"),
    OptionSpec("tag")
        .takes(OptionValue::Text, "KEY=VALUE")
        .says("a tag for the --log line and the --json result; may\n"
              "be given more than once, each KEY once; VALUE is\n"
              "UTF-8 text"),
    OptionSpec("expect-sha256")
        .takes(OptionValue::Sha256, "HEX")
        .refusing("--expect-sha256 takes 64 hex digits")
        .says("refuse SCRIPT unless its SHA-256 is HEX (exit 3; the\n"
              "port is not opened); `reburn3 check` prints it; the\n"
              "bytes hashed are the bytes played, whatever happens\n"
              "to the file on disk meanwhile"),
    OptionSpec("trace")
        .takes(OptionValue::File, "FILE")
        .says("write every byte sent and received, with its tick, to\n"
              "FILE as the run goes: a regular file, /dev/null, or\n"
              "the command's standard output or error (/dev/stdout,\n"
              "not with --json); anything else, or the script, a\n"
              "port or the log, ends the command before the port\n"
              "opens (exit 2); a trace that lost bytes (a full disk)\n"
              "fails the command (exit 5)"),
    OptionSpec("repeat")
        .takes(OptionValue::Integer, "N")
        .between(1, std::numeric_limits<int>::max())
        .refusing("--repeat takes a number of downloads, 1 or more")
        .says("N downloads in a row, each a whole session; stops at\n"
              "the first failure"),
    OptionSpec("stats").says("measure the run: time against the least the protocol\n"
                             "allows, tick periods, CPU time, peak memory (standard\n"
                             "error, and in the --json result)"),
    OptionSpec("baud")
        .takes(OptionValue::Integer, "RATE")
        .between(1, 10'000'000)
        .refusing("--baud takes a line rate in baud, 1 to 10000000")
        .says("with --stats: measure against the least time on a\n"
              "line of RATE baud (the port's line; the simulator's\n"
              "--baud)"),
    OptionSpec("reactive")
        .says("verify each answer as soon as it arrives and send the\n"
              "next bytes at once instead of at the next 5 ms tick\n"
              "(faster; the device must take bytes right after its\n"
              "answer)"),
    OptionSpec("handshake-limit")
        .takes(OptionValue::Decimal, "SECONDS")
        .between(HandshakeLimit::kLeastSeconds, 86'400)
        .orZero()
        .refusing("--handshake-limit takes seconds, 1 to 86400, or 0 for no limit")
        .says("give up (exit 1) when the handshake has not ended\n"
              "after SECONDS because the device keeps sending;\n"
              "default 5, 0 for no limit (the window waits for ever)"),
    OptionSpec("require-ack")
        .says("fail (exit 1) rather than complete when the device\n"
              "did not answer for every byte: a script that ends\n"
              "in T records, whose last bytes no answer proves"),
    OptionSpec("help", 'h').says("this help"),
};

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

bool isUtf8(const std::string& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8);
    [[maybe_unused]] const QString text = decoder.decode(QByteArrayView(bytes));
    return !decoder.hasError();
}

// True when TERM says the terminal cannot take escape codes.
bool dumbTerminal() {
    const QByteArray term = qgetenv("TERM");
    return term.isEmpty() || term == "dumb";
}

// Every --port, each also a comma list: "--port A --port B,C".
std::vector<std::string> portsOf(const std::vector<std::string>& values) {
    std::vector<std::string> ports;
    for (const std::string& word : values) {
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

}  // namespace

std::span<const OptionSpec> flashOptionTable() {
    return kFlashOptions;
}

// The script and the ports, told before any value: the first problem, or empty.
std::string readScriptAndPorts(const ParsedOptions& p, FlashOptions& options) {
    if (p.positional.size() != 1) {
        return p.positional.empty() ? "no script given" : "give exactly one script";
    }
    if (!p.isSet("port") || p.value("port").empty()) {
        return "no port given (--port COMn or --port DEVICE)";
    }
    options.ports = portsOf(p.values("port"));
    for (std::size_t i = 0; i < options.ports.size(); ++i) {
        if (options.ports[i].empty()) {
            return "an empty port in --port";
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (options.ports[j] == options.ports[i]) {
                return "the port " + options.ports[i] + " is given twice";
            }
        }
    }
    options.port = options.ports.front();
    options.script = p.positional.front();
    return {};
}

// The values the table has checked, the tags, and what the options say together: the
// first problem, or empty.
std::string readFlashOptions(const ParsedOptions& p, FlashOptions& options) {
    options.json = p.isSet("json");
    options.quiet = p.isSet("quiet");
    options.tracePath = p.value("trace");
    options.logPath = p.value("log");
    options.stats = p.isSet("stats");
    options.reactive = p.isSet("reactive");
    options.requireAck = p.isSet("require-ack");
    for (const std::string& t : p.values("tag")) {
        if (!parseTag(t, options.tags)) {
            return "--tag takes KEY=VALUE";
        }
        if (!isUtf8(t)) {
            return "--tag " + displayName(t) +
                   " is not UTF-8 text; the log and the JSON result take tags as text only";
        }
        const std::string& key = options.tags.back().first;
        for (std::size_t i = 0; i + 1 < options.tags.size(); ++i) {
            if (options.tags[i].first == key) {
                return "the tag " + key + " is given twice";
            }
        }
    }
    if (p.isSet("baud")) {
        options.lineBaud = static_cast<std::uint32_t>(p.number("baud"));
    }
    if (p.isSet("expect-sha256")) {
        options.expectSha256 =
            QString::fromStdString(p.value("expect-sha256")).toLower().toStdString();
    }
    if (p.isSet("repeat")) {
        options.repeat = static_cast<int>(p.number("repeat"));
    }
    if (p.isSet("handshake-limit")) {
        options.handshakeLimitSeconds = p.number("handshake-limit");
    }
    if (p.isSet("retries")) {
        options.retries = static_cast<int>(p.number("retries"));
    }
    if (p.isSet("retry-quiet")) {
        options.retryQuietSeconds = p.number("retry-quiet");
    }
    if (p.isSet("wait-for-port")) {
        options.waitForPortSeconds = p.number("wait-for-port");
    }
    if (p.isSet("station")) {
        options.station = p.value("station") == "replug" ? StationMode::Replug : StationMode::Enter;
        if (options.repeat > 1) {
            return "--station and --repeat do not go together";
        }
    }
    if (options.ports.size() > 1 && !options.tracePath.empty()) {
        return "--trace takes a single port";
    }
    const std::string mode = p.isSet("progress") ? p.value("progress") : std::string();
    options.progress = mode == "bar"                  ? ProgressMode::Bar
                       : mode == "plain"              ? ProgressMode::Plain
                       : mode == "none"               ? ProgressMode::None
                       : ::isatty(STDERR_FILENO) != 0 ? ProgressMode::Bar
                                                      : ProgressMode::None;
    // A terminal that cannot move its cursor (TERM=dumb: an editor's shell, a serial
    // console) gets progress lines, never the bar's escape codes.
    if (options.progress == ProgressMode::Bar && dumbTerminal()) {
        options.progress = ProgressMode::Plain;
    }
    // "COM9" or "COM" is a mistyped port number, not a file in the current directory.
    for (const std::string& port : options.ports) {
        if (port.size() >= 3 && QString::fromStdString(port.substr(0, 3)).toUpper() == "COM" &&
            port.find('/') == std::string::npos && !parseComName(port).has_value()) {
            return "the port must be COM1 to COM8 or a device path";
        }
    }
    return {};
}

}  // namespace reburn3::run
