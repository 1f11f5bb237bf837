#include "sim/simulate_command.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>

#include "sim/device_model.h"
#include "sim/pty_device.h"

namespace reburn3::sim {

namespace {

volatile std::sig_atomic_t g_signal = 0;
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
    DeviceOptions device;
    std::optional<std::uint64_t> lifetime;  // seconds
    bool help = false;
};

std::optional<std::uint64_t> parseCount(const std::string& text) {
    std::uint64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty()) {
        return std::nullopt;
    }
    return value;
}

// Fills `out` from the words after "simulate"; on error returns what is wrong.
std::optional<std::string> parse(const std::vector<std::string>& args, Arguments& out) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string word = args[i];
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
            out.help = true;
        } else if (word == "--link" || word == "--record") {
            const std::optional<std::string> v = value();
            if (!v || v->empty()) {
                return word + " needs a path";
            }
            (word == "--link" ? out.link : out.record) = *v;
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
        } else if (word == "--lifetime") {
            error = count(1, number);
            out.lifetime = number;
        } else if (word.size() > 1 && word[0] == '-') {
            return "unknown option " + word;
        } else if (out.script.empty()) {
            out.script = word;
        } else {
            return "more than one script: " + word;
        }
        if (error) {
            return error;
        }
    }
    if (!out.help && out.script.empty()) {
        return std::string("no script given");
    }
    return std::nullopt;
}

std::optional<std::string> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad()) {
        return std::nullopt;
    }
    return std::move(bytes).str();
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
    std::fprintf(stderr, "simulate: %s\n", text.c_str());
}

}  // namespace

const char* simulateUsage() {
    return "usage: simulate SCRIPT [options]\n"
           "Plays the device's side of SCRIPT on a new pseudo-terminal, whose path is\n"
           "printed as the first line of standard output.\n"
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
           "  --echo                 echo every byte instead of playing the script\n"
           "  --lifetime S           end the device after S seconds whatever happens\n"
           "  -v, --verbose          report on standard error what the device does\n"
           "Exit: 0 when the script has been played, the cable pulled, or the device\n"
           "stopped with --stay; 128+signal when stopped earlier; 124 when the lifetime\n"
           "ran out first; 1 when the port fails; 2 for a usage error; 3 for a script\n"
           "that cannot be read or is refused.\n";
}

int simulateCommand(const std::vector<std::string>& args) {
    Arguments a;
    if (const std::optional<std::string> error = parse(args, a)) {
        complain(*error);
        std::fputs(simulateUsage(), stderr);
        return kExitUsage;
    }
    if (a.help) {
        std::fputs(simulateUsage(), stdout);
        return kExitDone;
    }

    const std::optional<std::string> bytes = readFile(a.script);
    if (!bytes) {
        complain("cannot read " + a.script);
        return kExitBadScript;
    }
    LoadResult loaded = loadScript(*bytes);
    if (!loaded.script) {
        complain(a.script + " refused: " + loaded.error);
        return kExitBadScript;
    }

    PtyDevice pty;
    if (!pty.open() || (!a.link.empty() && !pty.link(a.link)) ||
        (!a.record.empty() && !pty.record(a.record))) {
        complain(pty.error());
        return kExitFailure;
    }
    DeviceModel model(std::move(*loaded.script), a.device);
    StopSignals signals;

    std::printf("%s\n", pty.path().c_str());
    std::fflush(stdout);

    std::optional<std::chrono::milliseconds> lifetime;
    if (a.lifetime) {
        lifetime = std::chrono::seconds(*a.lifetime);
    }
    const PtyEnd end = pty.run(
        model, signals.readEnd(),
        [](const std::string& line) {
            complain(line);
            std::fflush(stderr);
        },
        lifetime);
    switch (end) {
        case PtyEnd::ScriptPlayed:
        case PtyEnd::Unplugged:
            return kExitDone;
        case PtyEnd::Stopped:
            return a.device.stay ? kExitDone : 128 + static_cast<int>(g_signal);
        case PtyEnd::Expired:
            return a.device.stay ? kExitDone : kExitExpired;
        case PtyEnd::Failed:
            break;
    }
    complain(pty.error());
    return kExitFailure;
}

}  // namespace reburn3::sim
