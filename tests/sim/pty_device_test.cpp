// The simulated device on a real pseudo-terminal, with a raw POSIX client as the host.

#include "sim/pty_device.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <vector>

#ifndef REBURN3_SIM_EXE
#error "REBURN3_SIM_EXE must name the reburn3-sim executable"
#endif

extern char** environ;

namespace reburn3::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

// Generous: only reached when something is broken.
constexpr int kWaitMs = 5000;

const std::string kTiny = "T5A:T01:R91:E\r\n:T02:R26:E\r\n:";

DeviceModel makeDevice(DeviceOptions options = {}, const std::string& text = kTiny) {
    return DeviceModel(loadScript(text).script.value(), options);
}

std::string tempPath(const std::string& name) {
    return ::testing::TempDir() + "/" + name + "." + std::to_string(::getpid());
}

// A host that opens the port as a serial program would: raw, no controlling tty.
class Client {
public:
    explicit Client(const std::string& path) {
        m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_fd >= 0) {
            termios tio{};
            ::tcgetattr(m_fd, &tio);
            ::cfmakeraw(&tio);
            ::tcsetattr(m_fd, TCSANOW, &tio);
        }
    }
    ~Client() { close(); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool ok() const { return m_fd >= 0; }
    void close() {
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    void send(const Bytes& bytes) {
        ASSERT_EQ(::write(m_fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Reads up to `n` bytes, waiting at most `ms` for each.
    Bytes read(std::size_t n, int ms = kWaitMs) {
        Bytes out;
        while (out.size() < n) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, ms) <= 0 || (p.revents & POLLIN) == 0) {
                break;
            }
            std::uint8_t buf[64];
            const ssize_t got = ::read(m_fd, buf, std::min(sizeof buf, n - out.size()));
            if (got <= 0) {
                break;
            }
            out.insert(out.end(), buf, buf + got);
        }
        return out;
    }
    // True when the line has been cut: a read ends in end-of-file or an error.
    bool hungUp() {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, kWaitMs) <= 0) {
            return false;
        }
        std::uint8_t b = 0;
        return ::read(m_fd, &b, 1) <= 0;
    }

private:
    int m_fd = -1;
};

// Runs the device on its own thread.
class Running {
public:
    Running(PtyDevice& pty, DeviceModel& model) {
        if (::pipe(m_stop) != 0) {
            m_stop[0] = m_stop[1] = -1;
        }
        m_end = std::async(std::launch::async,
                           [&pty, &model, fd = m_stop[0]] { return pty.run(model, fd); });
    }
    ~Running() {
        stop();
        if (m_end.valid()) {
            m_end.wait();
        }
        for (int fd : m_stop) {
            ::close(fd);
        }
    }
    void stop() {
        const char c = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_stop[1], &c, 1);
    }
    // How the run ended, or nullopt if it has not ended in time.
    std::optional<PtyEnd> end() {
        if (m_end.wait_for(std::chrono::milliseconds(kWaitMs)) != std::future_status::ready) {
            return std::nullopt;
        }
        return m_end.get();
    }

private:
    int m_stop[2] = {-1, -1};
    std::future<PtyEnd> m_end;
};

Bytes fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(PtyDevice, PlaysTheScriptRecordsWhatArrivedAndLeaves) {
    PtyDevice pty;
    ASSERT_TRUE(pty.open()) << pty.error();
    const std::string record = tempPath("sim_record.bin");
    ASSERT_TRUE(pty.record(record)) << pty.error();
    DeviceModel model = makeDevice();
    Running running(pty, model);

    Client host(pty.path());
    ASSERT_TRUE(host.ok());
    host.send({0xE1, 0x94});
    EXPECT_EQ(host.read(2), (Bytes{0x91, 0x26}));
    host.send({0x5A, 0x01});
    EXPECT_EQ(host.read(1), Bytes{0x91});
    EXPECT_EQ(fileBytes(record), (Bytes{0xE1, 0x94, 0x5A, 0x01})) << "recorded as they arrive";
    host.send({0x02});
    EXPECT_EQ(host.read(1), Bytes{0x26}) << "the last reply survives the device leaving";
    EXPECT_EQ(running.end(), PtyEnd::ScriptPlayed);
    EXPECT_EQ(fileBytes(record), (Bytes{0xE1, 0x94, 0x5A, 0x01, 0x02}));
    std::filesystem::remove(record);
}

TEST(PtyDevice, UnplugCutsTheLine) {
    PtyDevice pty;
    ASSERT_TRUE(pty.open()) << pty.error();
    DeviceOptions o;
    o.unplugAt = 3;
    DeviceModel model = makeDevice(o);
    Running running(pty, model);

    Client host(pty.path());
    ASSERT_TRUE(host.ok());
    host.send({0xE1, 0x94});
    EXPECT_EQ(host.read(2), (Bytes{0x91, 0x26}));
    host.send({0x5A});
    EXPECT_EQ(running.end(), PtyEnd::Unplugged);
    EXPECT_TRUE(host.hungUp());
}

TEST(PtyDevice, HostMayCloseAndReopenThePortBetweenDownloads) {
    PtyDevice pty;
    ASSERT_TRUE(pty.open()) << pty.error();
    DeviceOptions o;
    o.stay = true;
    DeviceModel model = makeDevice(o);
    Running running(pty, model);

    for (int run = 1; run <= 2; ++run) {
        Client host(pty.path());
        ASSERT_TRUE(host.ok()) << run;
        host.send({0xE1, 0x94});
        EXPECT_EQ(host.read(2), (Bytes{0x91, 0x26})) << run;
        host.send({0x5A, 0x01, 0x02});
        EXPECT_EQ(host.read(2), (Bytes{0x91, 0x26})) << run;
    }
    running.stop();
    EXPECT_EQ(running.end(), PtyEnd::Stopped);
    EXPECT_EQ(model.completed(), 2u);
}

TEST(PtyDevice, LateRepliesAreNotEarly) {
    PtyDevice pty;
    ASSERT_TRUE(pty.open()) << pty.error();
    DeviceOptions o;
    o.late = Millis{150};
    DeviceModel model = makeDevice(o);
    Running running(pty, model);

    Client host(pty.path());
    ASSERT_TRUE(host.ok());
    const auto sent = std::chrono::steady_clock::now();
    host.send({0xE1, 0x94});
    EXPECT_EQ(host.read(2), (Bytes{0x91, 0x26}));
    EXPECT_GE(std::chrono::steady_clock::now() - sent, 150ms);
}

TEST(PtyDevice, LinkIsMadeReplacedAndRemoved) {
    const std::string link = tempPath("sim_port_link");
    std::filesystem::remove(link);
    std::filesystem::create_symlink("/nonexistent", link);
    {
        PtyDevice pty;
        ASSERT_TRUE(pty.open()) << pty.error();
        ASSERT_TRUE(pty.link(link)) << pty.error();
        EXPECT_EQ(std::filesystem::read_symlink(link), pty.path());
        Client host(link);
        EXPECT_TRUE(host.ok());
    }
    EXPECT_FALSE(std::filesystem::is_symlink(link));

    std::ofstream(link) << "not a link";
    PtyDevice pty;
    ASSERT_TRUE(pty.open());
    EXPECT_FALSE(pty.link(link));
    EXPECT_FALSE(pty.error().empty());
    pty.close();
    EXPECT_TRUE(std::filesystem::is_regular_file(link)) << "someone else's file is left alone";
    std::filesystem::remove(link);
}

// --- The stand-alone executable --------------------------------------------------

class Process {
public:
    explicit Process(std::vector<std::string> args) {
        args.insert(args.begin(), REBURN3_SIM_EXE);
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        int out[2];
        if (::pipe(out) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        if (::posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
            m_pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        m_out = out[0];
    }
    ~Process() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0) {
            ::close(m_out);
        }
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    std::string firstLine() {
        std::string line;
        char c = 0;
        for (;;) {
            pollfd p{m_out, POLLIN, 0};
            if (::poll(&p, 1, kWaitMs) <= 0 || ::read(m_out, &c, 1) != 1 || c == '\n') {
                return line;
            }
            line += c;
        }
    }
    void signal(int sig) { ::kill(m_pid, sig); }
    // The exit code, or -1 if the process does not end in time or died of a signal.
    int exitCode() {
        for (int waited = 0; waited < kWaitMs; waited += 10) {
            int status = 0;
            const pid_t r = ::waitpid(m_pid, &status, WNOHANG);
            if (r == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            ::usleep(10'000);
        }
        return -1;
    }

private:
    pid_t m_pid = -1;
    int m_out = -1;
};

std::string writeScript(const std::string& name, const std::string& text) {
    const std::string path = tempPath(name);
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

TEST(SimulateCommand, ExitCodesForBadUse) {
    const std::string good = writeScript("sim_good.pf3", kTiny);
    const std::string bad = writeScript("sim_bad.pf3", "t5A:");
    EXPECT_EQ(Process({}).exitCode(), 2);
    EXPECT_EQ(Process({good, "--frobnicate"}).exitCode(), 2);
    EXPECT_EQ(Process({good, "--noise"}).exitCode(), 2);
    EXPECT_EQ(Process({good, "--wrong-byte-at", "0"}).exitCode(), 2);
    EXPECT_EQ(Process({good, good}).exitCode(), 2);
    EXPECT_EQ(Process({bad}).exitCode(), 3);
    EXPECT_EQ(Process({tempPath("sim_missing.pf3")}).exitCode(), 3);
    EXPECT_EQ(Process({"--help"}).exitCode(), 0);
    std::filesystem::remove(good);
    std::filesystem::remove(bad);
}

TEST(SimulateCommand, PrintsThePortAndEndsWhenTheScriptHasBeenPlayed) {
    const std::string script = writeScript("sim_tiny.pf3", kTiny);
    const std::string record = tempPath("sim_cmd_record.bin");
    Process sim({script, "--record=" + record});
    const std::string path = sim.firstLine();
    ASSERT_EQ(path.rfind("/dev/", 0), 0u) << path;
    {
        Client host(path);
        ASSERT_TRUE(host.ok());
        host.send({0xE1, 0x94, 0x5A, 0x01});
        EXPECT_EQ(host.read(3), (Bytes{0x91, 0x26, 0x91}));
        host.send({0x02});
        EXPECT_EQ(host.read(1), Bytes{0x26});
    }
    EXPECT_EQ(sim.exitCode(), 0);
    EXPECT_EQ(fileBytes(record), (Bytes{0xE1, 0x94, 0x5A, 0x01, 0x02}));
    std::filesystem::remove(script);
    std::filesystem::remove(record);
}

TEST(SimulateCommand, SignalEndsTheDevice) {
    const std::string script = writeScript("sim_sig.pf3", kTiny);
    const std::string record = tempPath("sim_sig_record.bin");
    {
        Process sim({script, "--record", record});
        ASSERT_FALSE(sim.firstLine().empty());
        sim.signal(SIGTERM);
        EXPECT_EQ(sim.exitCode(), 128 + SIGTERM);
    }
    EXPECT_TRUE(fileBytes(record).empty()) << "nothing was sent";
    {
        Process sim({script, "--stay"});
        ASSERT_FALSE(sim.firstLine().empty());
        sim.signal(SIGINT);
        EXPECT_EQ(sim.exitCode(), 0);
    }
    {
        Process sim({script, "--lifetime", "1"});
        ASSERT_FALSE(sim.firstLine().empty());
        EXPECT_EQ(sim.exitCode(), 124);
    }
    std::filesystem::remove(script);
    std::filesystem::remove(record);
}

}  // namespace
}  // namespace reburn3::sim
