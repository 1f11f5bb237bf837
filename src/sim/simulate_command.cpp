// SPDX-License-Identifier: Apache-2.0
#include "sim/simulate_command.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <optional>

#include "base/option_table.h"
#include "base/version.h"
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

// The simulator's options, in the order its help lists them; reburn3-sim's --version last.
constexpr double kMostCount = 0xFFFF'FFFFu;
constexpr OptionSpec kOptions[] = {
    OptionSpec("tty")
        .takes(OptionValue::File, "PATH")
        .nonEmpty()
        .refusing("--tty needs a path")
        .says("serve the existing terminal PATH instead (the device\n"
              "end of a real line, e.g. /dev/ttyGS0): raw, 115200\n"
              "baud, 8N1, no flow control; a hang-up ends it (1)"),
    OptionSpec("link")
        .takes(OptionValue::File, "PATH")
        .nonEmpty()
        .refusing("--link needs a path")
        .says("also make PATH a symbolic link to the port"),
    OptionSpec("record")
        .takes(OptionValue::File, "FILE")
        .nonEmpty()
        .refusing("--record needs a path")
        .says("write every byte received to FILE"),
    OptionSpec("stay").says("serve download after download until stopped"),
    OptionSpec("silent-handshake").says("never answer the handshake"),
    OptionSpec("bad-handshake").says("answer the handshake with 91 27"),
    OptionSpec("noise")
        .takes(OptionValue::Integer, "N")
        .between(0, kMostCount)
        .refusing("--noise: not a valid number: {}")
        .says("send N noise bytes before the handshake reply"),
    OptionSpec("stray").says("send a stray 00 after the handshake reply"),
    OptionSpec("wrong-byte-at")
        .takes(OptionValue::Integer, "N")
        .between(1, kMostCount)
        .refusing("--wrong-byte-at: not a valid number: {}")
        .says("answer the Nth R record with a wrong byte"),
    OptionSpec("silent-from")
        .takes(OptionValue::Integer, "N")
        .between(1, kMostCount)
        .refusing("--silent-from: not a valid number: {}")
        .says("give no answer from the Nth R record on"),
    OptionSpec("late")
        .takes(OptionValue::Integer, "MS")
        .between(0, kMostCount)
        .refusing("--late: not a valid number: {}")
        .says("send every reply MS milliseconds late"),
    OptionSpec("unplug-at")
        .takes(OptionValue::Integer, "N")
        .between(1, kMostCount)
        .refusing("--unplug-at: not a valid number: {}")
        .says("pull the cable when the Nth byte arrives"),
    OptionSpec("stop-reading-at")
        .takes(OptionValue::Integer, "N")
        .between(1, kMostCount)
        .refusing("--stop-reading-at: not a valid number: {}")
        .says("take nothing more off the line after the Nth byte"),
    OptionSpec("echo").says("echo every byte instead of playing the script"),
    OptionSpec("lifetime")
        .takes(OptionValue::Integer, "S")
        .between(1, kMostCount)
        .refusing("--lifetime: not a valid number: {}")
        .says("end the device after S seconds whatever happens"),
    OptionSpec("ignore-handshakes")
        .takes(OptionValue::Integer, "N")
        .between(1, kMostCount)
        .refusing("--ignore-handshakes: not a valid number: {}")
        .says("leave the first N handshakes unanswered"),
    OptionSpec("baud")
        .takes(OptionValue::Integer, "RATE")
        .between(1, kMostCount)
        .refusing("--baud: not a valid number: {}")
        .says("carry bytes both ways at RATE baud, 8N1, as a UART"),
    OptionSpec("boards")
        .takes(OptionValue::Integer, "N")
        .between(1, kMostCount)
        .refusing("--boards: not a valid number: {}")
        .says("serve N boards in turn: after each download the port\n"
              "goes away (the link is removed) and a new one comes\n"
              "after the replug gap; its path is printed when ready"),
    OptionSpec("faults-on-board")
        .takes(OptionValue::Integer, "K")
        .between(1, kMostCount)
        .refusing("--faults-on-board: not a valid number: {}")
        .says("the fault options apply to board K only"),
    OptionSpec("replug-gap")
        .takes(OptionValue::Integer, "MS")
        .between(0, kMostCount)
        .refusing("--replug-gap: not a valid number: {}")
        .says("the pause between boards (default 500)"),
    OptionSpec("link-delay")
        .takes(OptionValue::Decimal, "S")
        .between(0, 86'400)
        .refusing("--link-delay needs a number of seconds")
        .says("make the --link only S seconds after start"),
    OptionSpec("verbose", 'v').says("report on standard error what the device does"),
    OptionSpec("help", 'h').says("this help"),
    OptionSpec("version", 'V').says("the version and the commit"),
};

// What a usage error says of an option and its value.
std::string problemOf(const OptionProblem& p) {
    switch (p.kind) {
        case OptionProblem::Kind::Unknown:
            return "unknown option " + p.word;
        case OptionProblem::Kind::UnexpectedValue:
            return p.word + " takes no value";
        case OptionProblem::Kind::MissingValue:
            return p.entry->value == OptionValue::Integer ? p.word + " needs a number"
                                                          : problemText(p);
        case OptionProblem::Kind::BadValue:
            break;
    }
    return problemText(p);
}

// Fills `out` from the words after "simulate"; on error returns what is wrong.
std::optional<std::string> parse(const std::vector<std::string>& args, Arguments& out) {
    ParsedOptions p = parseOptions(simulateOptions(g_program), args);
    if (!p.problems.empty()) {
        return problemOf(p.problems.front());
    }
    if (const std::optional<OptionProblem> bad = checkValues(simulateOptions(g_program), p)) {
        return problemOf(*bad);
    }
    out.help = p.isSet("help");
    out.version = p.isSet("version");
    out.tty = p.value("tty");
    out.link = p.value("link");
    out.record = p.value("record");
    out.device.stay = p.isSet("stay");
    out.device.silentHandshake = p.isSet("silent-handshake");
    out.device.badHandshake = p.isSet("bad-handshake");
    out.device.stray = p.isSet("stray");
    out.device.echo = p.isSet("echo");
    out.device.verbose = p.isSet("verbose");
    const auto count = [&p](std::string_view name, std::uint64_t unset) {
        return p.isSet(name) ? static_cast<std::uint64_t>(p.number(name)) : unset;
    };
    out.device.noise = static_cast<std::uint32_t>(count("noise", out.device.noise));
    out.device.wrongByteAt = count("wrong-byte-at", out.device.wrongByteAt);
    out.device.silentFrom = count("silent-from", out.device.silentFrom);
    out.device.late = Millis{static_cast<Millis::rep>(
        count("late", static_cast<std::uint64_t>(out.device.late.count())))};
    out.device.unplugAt = count("unplug-at", out.device.unplugAt);
    out.device.stopReadingAt = count("stop-reading-at", out.device.stopReadingAt);
    out.device.ignoreHandshakes = count("ignore-handshakes", out.device.ignoreHandshakes);
    if (p.isSet("lifetime")) {
        out.lifetime = count("lifetime", 0);
    }
    if (p.isSet("boards")) {
        out.boards = count("boards", 0);
    }
    out.baud = count("baud", out.baud);
    out.faultsOnBoard = count("faults-on-board", out.faultsOnBoard);
    out.replugGap = Millis{static_cast<Millis::rep>(
        count("replug-gap", static_cast<std::uint64_t>(out.replugGap.count())))};
    if (p.isSet("link-delay")) {
        out.linkDelay = Millis{static_cast<Millis::rep>(p.number("link-delay") * 1000 + 0.5)};
    }
    if (out.help || out.version) {
        return std::nullopt;
    }
    if (p.positional.size() > 1) {
        return "more than one script: " + p.positional[1];
    }
    out.script = p.positional.empty() ? std::string() : p.positional.front();
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

std::span<const OptionSpec> simulateOptions(std::string_view program) {
    const std::span<const OptionSpec> all(kOptions);
    return program == "reburn3-sim" ? all : all.first(all.size() - 1);
}

std::string simulateUsage(std::string_view program) {
    std::string usage = "Usage: " + std::string(program) + " [options] [--] SCRIPT\n";
    usage +=
        "\n"
        "Plays the ORX-716's side of SCRIPT (a .pf3 programming script) on a new\n"
        "pseudo-terminal, whose path is printed as the first line of standard output:\n"
        "a device to try reburn3 and reburn3-gui on without hardware.\n"
        "\n"
        "Options:\n";
    usage += optionHelp(simulateOptions(program), 25,
                        "ends the options: a SCRIPT named \"-x.pf3\" follows it");
    usage +=
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

std::span<const OptionSpec> simulateOptionTable() {
    return simulateOptions("reburn3 simulate");
}

std::string simulateHelp() {
    return simulateUsage("reburn3 simulate");
}

int simulateCommand(int argc, char** argv) {
    return simulateCommand(std::vector<std::string>(argv + 2, argv + argc), "reburn3 simulate");
}

}  // namespace reburn3::sim
