// SPDX-License-Identifier: Apache-2.0
#include "sim/simulate_command.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <optional>

#include "app/command_options.h"
#include "app/version.h"
#include "sim/device_model.h"
#include "sim/pty_device.h"

namespace reburn3::sim {

namespace {

volatile std::sig_atomic_t g_signal = 0;
// "reburn3 simulate" or "reburn3-sim": the name the messages go under.
std::string g_program = "reburn3 simulate";
int g_stopWrite = -1;

extern "C" void onStopSignal(int sig) {
    g_signal = sig;
    if (g_stopWrite >= 0) {
        const char c = 1;
        [[maybe_unused]] const ssize_t n = ::write(g_stopWrite, &c, 1);
    }
}

struct Arguments {
    std::string script;
    std::string link;
    std::string record;
    std::string tty;  // an existing terminal to serve instead of a pseudo-terminal
    DeviceOptions device;
    std::optional<std::uint64_t> lifetime;  // seconds
    std::uint64_t baud = 0;                 // 0: no pacing
    std::optional<std::uint64_t> boards;    // boards in turn
    std::uint64_t faultsOnBoard = 0;        // 0: the fault options apply to every board
    Millis replugGap{500};
    Millis linkDelay{0};
    bool help = false;
    bool version = false;
};

// A board whose download has failed is taken away once its host has gone quiet this
// long: a host gives up after 54 silent ticks (270 ms) and may try the handshake again
// at once, so a longer silence means the operator is changing the board.
constexpr Millis kSwapAfterQuiet{2000};

std::optional<Millis> parseSeconds(const std::string& text) {
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty() || !(value >= 0) || value > 86'400) {
        return std::nullopt;
    }
    return Millis{static_cast<Millis::rep>(value * 1000 + 0.5)};
}

std::optional<std::uint64_t> parseCount(const std::string& text) {
    std::uint64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty()) {
        return std::nullopt;
    }
    return value;
}

// Fills `out` from the words after "simulate"; on error returns what is wrong. The options
// are those of the program's table (the one the shell completion reads too).
std::optional<std::string> parse(const std::vector<std::string>& args, Arguments& out) {
    const std::span<const OptionSpec> table =
        commandOptions(g_program == "reburn3-sim" ? "reburn3-sim" : "simulate");
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string word = args[i];
        if (!optionsEnded && word == "--") {
            optionsEnded = true;
            continue;
        }
        if (optionsEnded || word.size() < 2 || word[0] != '-') {
            if (!out.script.empty()) {
                return "more than one script: " + word;
            }
            out.script = word;
            continue;
        }
        if (findOption(table, word) == nullptr) {
            return "unknown option " + word.substr(0, word.find('='));
        }
        std::optional<std::string> inlineValue;
        if (word.rfind("--", 0) == 0) {
            const std::size_t eq = word.find('=');
            if (eq != std::string::npos) {
                inlineValue = word.substr(eq + 1);
                word.resize(eq);
            }
        }
        auto value = [&]() -> std::optional<std::string> {
            if (inlineValue) {
                return inlineValue;
            }
            if (i + 1 < args.size()) {
                return args[++i];
            }
            return std::nullopt;
        };
        auto count = [&](std::uint64_t minimum,
                         std::uint64_t& target) -> std::optional<std::string> {
            const std::optional<std::string> v = value();
            if (!v) {
                return word + " needs a number";
            }
            const std::optional<std::uint64_t> n = parseCount(*v);
            if (!n || *n < minimum || *n > 0xFFFF'FFFFu) {
                return word + ": not a valid number: " + *v;
            }
            target = *n;
            return std::nullopt;
        };
        auto flag = [&](bool& target) -> std::optional<std::string> {
            if (inlineValue) {
                return word + " takes no value";
            }
            target = true;
            return std::nullopt;
        };
        std::optional<std::string> error;
        std::uint64_t number = 0;

        if (word == "-h" || word == "--help") {
            error = flag(out.help);
        } else if (word == "-V" || word == "--version") {
            error = flag(out.version);
        } else if (word == "--link" || word == "--record" || word == "--tty") {
            const std::optional<std::string> v = value();
            if (!v || v->empty()) {
                return word + " needs a path";
            }
            (word == "--link" ? out.link : word == "--record" ? out.record : out.tty) = *v;
        } else if (word == "--stay") {
            error = flag(out.device.stay);
        } else if (word == "--silent-handshake") {
            error = flag(out.device.silentHandshake);
        } else if (word == "--bad-handshake") {
            error = flag(out.device.badHandshake);
        } else if (word == "--stray") {
            error = flag(out.device.stray);
        } else if (word == "--echo") {
            error = flag(out.device.echo);
        } else if (word == "-v" || word == "--verbose") {
            error = flag(out.device.verbose);
        } else if (word == "--noise") {
            error = count(0, number);
            out.device.noise = static_cast<std::uint32_t>(number);
        } else if (word == "--wrong-byte-at") {
            error = count(1, out.device.wrongByteAt);
        } else if (word == "--silent-from") {
            error = count(1, out.device.silentFrom);
        } else if (word == "--late") {
            error = count(0, number);
            out.device.late = Millis{static_cast<Millis::rep>(number)};
        } else if (word == "--unplug-at") {
            error = count(1, out.device.unplugAt);
        } else if (word == "--stop-reading-at") {
            error = count(1, out.device.stopReadingAt);
        } else if (word == "--lifetime") {
            error = count(1, number);
            out.lifetime = number;
        } else if (word == "--baud") {
            error = count(1, out.baud);
        } else if (word == "--ignore-handshakes") {
            error = count(1, out.device.ignoreHandshakes);
        } else if (word == "--boards") {
            error = count(1, number);
            out.boards = number;
        } else if (word == "--faults-on-board") {
            error = count(1, out.faultsOnBoard);
        } else if (word == "--replug-gap") {
            error = count(0, number);
            out.replugGap = Millis{static_cast<Millis::rep>(number)};
        } else if (word == "--link-delay") {
            const std::optional<std::string> v = value();
            const std::optional<Millis> delay = v ? parseSeconds(*v) : std::nullopt;
            if (!delay) {
                return word + " needs a number of seconds";
            }
            out.linkDelay = *delay;
        } else {
            return "unknown option " + word;
        }
        if (error) {
            return error;
        }
    }
    if (out.help || out.version) {
        return std::nullopt;
    }
    if (out.script.empty()) {
        return std::string("no script given");
    }
    if (out.boards && out.device.stay) {
        return std::string("--boards and --stay exclude each other");
    }
    if (out.boards && !out.tty.empty()) {
        return std::string("--boards and --tty exclude each other");
    }
    if (out.faultsOnBoard > out.boards.value_or(1)) {
        return std::string("--faults-on-board names a board after the last one");
    }
    if (out.linkDelay > Millis{0} && out.link.empty()) {
        return std::string("--link-delay needs --link");
    }
    return std::nullopt;
}

class StopSignals {
public:
    StopSignals() {
        if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
            m_pipe[0] = m_pipe[1] = -1;
            return;
        }
        g_signal = 0;
        g_stopWrite = m_pipe[1];
        struct sigaction sa {};
        sa.sa_handler = onStopSignal;
        sigemptyset(&sa.sa_mask);
        ::sigaction(SIGINT, &sa, &m_oldInt);
        ::sigaction(SIGTERM, &sa, &m_oldTerm);
        // A reader that has gone away must not kill the device with a report line.
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        ::sigaction(SIGPIPE, &ignore, &m_oldPipe);
        m_installed = true;
    }
    ~StopSignals() {
        if (m_installed) {
            ::sigaction(SIGINT, &m_oldInt, nullptr);
            ::sigaction(SIGTERM, &m_oldTerm, nullptr);
            ::sigaction(SIGPIPE, &m_oldPipe, nullptr);
        }
        g_stopWrite = -1;
        for (int fd : m_pipe) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    int readEnd() const { return m_pipe[0]; }

private:
    int m_pipe[2] = {-1, -1};
    bool m_installed = false;
    struct sigaction m_oldInt {};
    struct sigaction m_oldTerm {};
    struct sigaction m_oldPipe {};
};

void complain(const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", g_program.c_str(), text.c_str());
    std::fflush(stderr);
}

// After a board or a wait: nothing to go on, or the exit code to end with.
using Ending = std::optional<int>;

class Simulator {
public:
    explicit Simulator(const Arguments& a) : m_args(a), m_start(Clock::now()) {}

    int run();

private:
    using Clock = std::chrono::steady_clock;

    Ending serveBoard(std::uint64_t board);
    Ending preparePort(PtyDevice& pty, std::uint64_t board);
    DeviceOptions optionsFor(std::uint64_t board) const;
    Ending wait(Millis howLong);
    std::optional<Millis> remainingLifetime() const;
    int stoppedEarly() const;
    int expired() const { return m_args.device.stay ? kExitDone : kExitExpired; }

    const Arguments& m_args;
    const Clock::time_point m_start;
    StopSignals m_signals;
};

int Simulator::run() {
    const std::uint64_t boards = m_args.boards.value_or(1);
    for (std::uint64_t board = 1; board <= boards; ++board) {
        if (board > 1) {
            // The adapter is gone for a moment while the operator changes the board.
            if (const Ending v = wait(m_args.replugGap)) {
                return *v;
            }
        }
        if (const Ending v = serveBoard(board)) {
            return *v;
        }
    }
    return kExitDone;
}

Ending Simulator::serveBoard(std::uint64_t board) {
    LoadResult loaded = openScript(m_args.script);
    if (!loaded.script) {
        complain(m_args.script + " refused: " + loaded.error);
        return kExitBadScript;
    }
    PtyDevice pty;
    if (const Ending v = preparePort(pty, board)) {
        return v;
    }
    DeviceModel model(std::move(*loaded.script), optionsFor(board));
    const std::optional<Millis> lifetime = remainingLifetime();
    if (lifetime && *lifetime <= Millis{0}) {
        return expired();
    }
    const PtyEnd end = pty.run(model, m_signals.readEnd(), complain, lifetime);
    switch (end) {
        case PtyEnd::ScriptPlayed:
        case PtyEnd::Unplugged:
        case PtyEnd::Quiet:
            return std::nullopt;
        case PtyEnd::Stopped:
            return stoppedEarly();
        case PtyEnd::Expired:
            return expired();
        case PtyEnd::Failed:
            break;
    }
    complain(pty.error());
    return kExitFailure;
}

// Opens the port and tells that it is ready: its path goes to standard output, one
// line per board, once the link (when one is asked for) leads to it. With
// --link-delay the path comes at once and the link only after the delay.
Ending Simulator::preparePort(PtyDevice& pty, std::uint64_t board) {
    std::string record = m_args.record;
    if (m_args.boards && !record.empty()) {
        record += "." + std::to_string(board);
    }
    const bool opened = m_args.tty.empty() ? pty.open() : pty.serve(m_args.tty);
    if (!opened || (!record.empty() && !pty.record(record))) {
        complain(pty.error());
        return kExitFailure;
    }
    pty.pace(static_cast<std::uint32_t>(m_args.baud));
    if (m_args.boards) {
        pty.leaveWhenQuiet(kSwapAfterQuiet);
    }
    const bool delayed = board == 1 && m_args.linkDelay > Millis{0};
    if (delayed) {
        std::printf("%s\n", pty.path().c_str());
        std::fflush(stdout);
        if (const Ending v = wait(m_args.linkDelay)) {
            return v;
        }
    }
    if (!m_args.link.empty() && !pty.link(m_args.link)) {
        complain(pty.error());
        return kExitFailure;
    }
    if (!delayed) {
        std::printf("%s\n", pty.path().c_str());
        std::fflush(stdout);
    }
    if (m_args.boards && m_args.device.verbose) {
        complain("board " + std::to_string(board) + " of " + std::to_string(*m_args.boards) +
                 " ready on " + pty.path());
    }
    return std::nullopt;
}

// The fault options go to every board, or with --faults-on-board to that board only.
DeviceOptions Simulator::optionsFor(std::uint64_t board) const {
    if (m_args.faultsOnBoard == 0 || m_args.faultsOnBoard == board) {
        return m_args.device;
    }
    DeviceOptions healthy;
    healthy.stay = m_args.device.stay;
    healthy.verbose = m_args.device.verbose;
    return healthy;
}

// Waits, unless a stop signal comes or the lifetime ends first.
Ending Simulator::wait(Millis howLong) {
    const std::optional<Millis> lifetime = remainingLifetime();
    const Millis wait = lifetime ? std::clamp(*lifetime, Millis{0}, howLong) : howLong;
    pollfd stop{m_signals.readEnd(), POLLIN, 0};
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait);
    const timespec timeout{static_cast<time_t>(seconds.count()),
                           static_cast<long>(std::chrono::nanoseconds(wait - seconds).count())};
    int ready = 0;
    do {
        ready = ::ppoll(&stop, stop.fd >= 0 ? 1 : 0, &timeout, nullptr);
    } while (ready < 0 && errno == EINTR && g_signal == 0);
    if (g_signal != 0) {
        return stoppedEarly();
    }
    if (lifetime && *lifetime <= howLong) {
        return expired();
    }
    return std::nullopt;
}

std::optional<Millis> Simulator::remainingLifetime() const {
    if (!m_args.lifetime) {
        return std::nullopt;
    }
    const auto end = m_start + std::chrono::seconds(*m_args.lifetime);
    return std::chrono::duration_cast<Millis>(end - Clock::now());
}

int Simulator::stoppedEarly() const {
    return m_args.device.stay ? kExitDone : 128 + static_cast<int>(g_signal);
}

}  // namespace

std::string simulateUsage(std::string_view program) {
    std::string usage = "Usage: " + std::string(program) + " [options] [--] SCRIPT\n";
    usage +=
        "\n"
        "Plays the ORX-716's side of SCRIPT (a .pf3 programming script) on a new\n"
        "pseudo-terminal, whose path is printed as the first line of standard output:\n"
        "a device to try reburn3 and reburn3-gui on without hardware.\n"
        "\n"
        "Options:\n"
        "  --tty PATH             serve the existing terminal PATH instead (the device\n"
        "                         end of a real line, e.g. /dev/ttyGS0): raw, 115200\n"
        "                         baud, 8N1, no flow control; a hang-up ends it (1)\n"
        "  --link PATH            also make PATH a symbolic link to the port\n"
        "  --record FILE          write every byte received to FILE\n"
        "  --stay                 serve download after download until stopped\n"
        "  --silent-handshake     never answer the handshake\n"
        "  --bad-handshake        answer the handshake with 91 27\n"
        "  --noise N              send N noise bytes before the handshake reply\n"
        "  --stray                send a stray 00 after the handshake reply\n"
        "  --wrong-byte-at N      answer the Nth R record with a wrong byte\n"
        "  --silent-from N        give no answer from the Nth R record on\n"
        "  --late MS              send every reply MS milliseconds late\n"
        "  --unplug-at N          pull the cable when the Nth byte arrives\n"
        "  --stop-reading-at N    take nothing more off the line after the Nth byte\n"
        "  --echo                 echo every byte instead of playing the script\n"
        "  --lifetime S           end the device after S seconds whatever happens\n"
        "  --ignore-handshakes N  leave the first N handshakes unanswered\n"
        "  --baud RATE            carry bytes both ways at RATE baud, 8N1, as a UART\n"
        "  --boards N             serve N boards in turn: after each download the port\n"
        "                         goes away (the link is removed) and a new one comes\n"
        "                         after the replug gap; its path is printed when ready\n"
        "  --faults-on-board K    the fault options apply to board K only\n"
        "  --replug-gap MS        the pause between boards (default 500)\n"
        "  --link-delay S         make the --link only S seconds after start\n"
        "  -v, --verbose          report on standard error what the device does\n"
        "  -h, --help             this help\n";
    if (program == "reburn3-sim") {
        usage += "  -V, --version          the version and the commit\n";
    }
    usage +=
        "  --                     ends the options: a SCRIPT named \"-x.pf3\" follows it\n"
        "\n"
        "Exit codes:\n"
        "  0    the script has been played, the cable pulled, the device stopped with\n"
        "       --stay, or the last of --boards served\n"
        "  1    the pseudo-terminal could not be made or failed\n"
        "  2    usage error\n"
        "  3    the script cannot be read or is refused\n"
        "  124  the lifetime ran out before the script was played\n"
        "  128+N  stopped by signal N before the script was played (130: Ctrl-C)\n";
    return usage;
}

int simulateCommand(const std::vector<std::string>& args, std::string_view program) {
    g_program = std::string(program);
    Arguments a;
    if (const std::optional<std::string> error = parse(args, a)) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", g_program.c_str(), error->c_str(),
                     g_program.c_str());
        return kExitUsage;
    }
    if (a.help) {
        std::fputs(simulateUsage(program).c_str(), stdout);
        return kExitDone;
    }
    if (a.version) {
        std::printf("%s\n", versionLine(program, {}).c_str());
        return kExitDone;
    }
    return Simulator(a).run();
}

}  // namespace reburn3::sim
