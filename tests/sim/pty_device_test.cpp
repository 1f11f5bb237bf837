// SPDX-License-Identifier: Apache-2.0
// The simulated device on a real pseudo-terminal, with a raw POSIX client as the host.

#include "sim/pty_device.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <vector>

#include "sim/sim_test_support.h"

namespace reburn3::sim {
namespace {

using namespace std::chrono_literals;
using namespace simtest;

const std::string kTiny = "T5A:T01:R91:E\r\n:T02:R26:E\r\n:";

DeviceModel makeDevice(DeviceOptions options = {}, const std::string& text = kTiny) {
    return DeviceModel(loadScript(text).script.value(), options);
}

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

TEST(PtyDevice, BytesSentBeforeAStopAreTakenInFirst) {
    PtyDevice pty;
    ASSERT_TRUE(pty.open()) << pty.error();
    const std::string record = tempPath("sim_stop_record.bin");
    ASSERT_TRUE(pty.record(record)) << pty.error();
    DeviceModel model = makeDevice();
    Client host(pty.path());
    ASSERT_TRUE(host.ok());
    // A burst larger than the input queue (4 KiB) is waiting when the stop comes.
    Bytes burst = {0xE1, 0x94, 0x5A, 0x01};
    burst.resize(64'000, 0x77);
    burst.resize(host.sendWhatFits(burst));
    ASSERT_GT(burst.size(), 4096u);
    int stop[2];
    ASSERT_EQ(::pipe(stop), 0);
    ASSERT_EQ(::write(stop[1], "x", 1), 1);
    EXPECT_EQ(pty.run(model, stop[0]), PtyEnd::Stopped);
    EXPECT_EQ(fileBytes(record), burst);
    EXPECT_EQ(model.bytesReceived(), burst.size());
    ::close(stop[0]);
    ::close(stop[1]);
    std::filesystem::remove(record);
}

// The device on the far end of an existing line: a pseudo-terminal stands in for it, the
// host holding the master side and the device serving the slave side as a real tty.
TEST(PtyDevice, ServesAnExistingTerminalStopsReadingWhereToldAndEndsAtAHangUp) {
    const int line = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(line, 0);
    ASSERT_EQ(::grantpt(line), 0);
    ASSERT_EQ(::unlockpt(line), 0);
    const std::string farEnd = ::ptsname(line);
    PtyDevice pty;
    ASSERT_FALSE(pty.serve("/dev/null")) << "not a terminal";
    ASSERT_TRUE(pty.serve(farEnd)) << pty.error();
    EXPECT_EQ(pty.path(), farEnd);
    {
        const int fd = ::open(farEnd.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        termios tio{};
        ASSERT_EQ(::tcgetattr(fd, &tio), 0);
        ::close(fd);
        EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u) << "raw";
        EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL), 0u) << "no flow control, no mapping";
        EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t{CS8}) << "8N1";
        EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), tcflag_t{CLOCAL | CREAD});
        EXPECT_EQ(::cfgetospeed(&tio), speed_t{B115200});
    }
    const std::string record = tempPath("sim_tty_record.bin");
    ASSERT_TRUE(pty.record(record)) << pty.error();
    DeviceOptions o;
    o.stopReadingAt = 4;
    DeviceModel model = makeDevice(o);
    Running running(pty, model);

    auto send = [line](const Bytes& bytes) {
        ASSERT_EQ(::write(line, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    };
    auto read = [line](std::size_t n) {
        Bytes out(n);
        std::size_t got = 0;
        pollfd p{line, POLLIN, 0};
        while (got<n&& ::poll(&p, 1, kWaitMs)> 0) {
            const ssize_t r = ::read(line, out.data() + got, n - got);
            if (r <= 0) {
                break;
            }
            got += static_cast<std::size_t>(r);
        }
        out.resize(got);
        return out;
    };
    send({0xE1, 0x94});
    EXPECT_EQ(read(2), (Bytes{0x91, 0x26}));
    send({0x5A, 0x01, 0x02});
    EXPECT_EQ(read(1), Bytes{0x91}) << "the 4th byte is taken and answered";
    ::close(line);  // the line goes away
    EXPECT_EQ(running.end(), PtyEnd::Failed);
    EXPECT_NE(pty.error().find(farEnd + " hung up"), std::string::npos) << pty.error();
    EXPECT_EQ(fileBytes(record), (Bytes{0xE1, 0x94, 0x5A, 0x01})) << "the 02 was never taken";
    std::filesystem::remove(record);
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

// --- The stand-alone executable -----------------------------------------------

TEST(SimulateCommand, ExitCodesForBadUse) {
    const std::string good = writeScript("sim_good.pf3", kTiny);
    const std::string bad = writeScript("sim_bad.pf3", "t5A:");
    EXPECT_EQ(Process({}).exitCode(), 2);
    EXPECT_EQ(Process({good, "--frobnicate"}).exitCode(), 2);
    EXPECT_EQ(Process({good, "--noise"}).exitCode(), 2);
    EXPECT_EQ(Process({good, "--wrong-byte-at", "0"}).exitCode(), 2);
    EXPECT_EQ(Process({good, "--baud", "0"}).exitCode(), 2);
    EXPECT_EQ(Process({good, "--boards", "2", "--stay"}).exitCode(), 2);
    EXPECT_EQ(Process({good, "--boards", "2", "--faults-on-board", "3"}).exitCode(), 2);
    EXPECT_EQ(Process({good, "--link-delay", "1"}).exitCode(), 2) << "no link to delay";
    EXPECT_EQ(Process({good, "--link", "x", "--link-delay", "soon"}).exitCode(), 2);
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
