// SPDX-License-Identifier: Apache-2.0
// The simulated device as a production line meets it, through the stand-alone
// simulator on real pseudo-terminals: boards that come in turn on one link, a link
// that appears late, a device that ignores the first handshake, and a line that
// carries bytes at its baud rate.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "sim/sim_test_support.h"

namespace reburn3::sim {
namespace {

using namespace std::chrono_literals;
using namespace simtest;
using SteadyClock = std::chrono::steady_clock;

const std::string kTiny = "T5A:T01:R91:E\r\n:T02:R26:E\r\n:";

bool isLink(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_symlink(path, ec);
}

// Waits until `path` is (or is no longer) a symbolic link; false if that takes longer
// than `limit`.
bool waitForLink(const std::string& path, bool present,
                 std::chrono::milliseconds limit = std::chrono::milliseconds(kWaitMs)) {
    const auto until = SteadyClock::now() + limit;
    while (isLink(path) != present) {
        if (SteadyClock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

TEST(SimulateBoards, BoardsComeInTurnOnOneLinkAndTheFaultyOneIsTakenAwayToo) {
    const std::string script = writeScript("station_tiny.pf3", kTiny);
    const std::string link = tempPath("station_port");
    const std::string record = tempPath("station_record");
    Process sim({script, "--boards", "3", "--link", link, "--record", record, "--faults-on-board",
                 "2", "--wrong-byte-at", "1", "--replug-gap", "300", "--lifetime", "30"});
    for (int board = 1; board <= 3; ++board) {
        const std::string path = sim.line();
        ASSERT_EQ(path.rfind("/dev/", 0), 0u) << "board " << board << ": " << path;
        ASSERT_TRUE(isLink(link)) << "board " << board << " is told once its link is there";
        EXPECT_EQ(std::filesystem::read_symlink(link), path) << board;
        SteadyClock::time_point hostLeft;
        {
            Client host(link);
            ASSERT_TRUE(host.ok()) << board;
            host.send({0xE1, 0x94, 0x5A, 0x01});
            if (board == 2) {
                EXPECT_EQ(host.read(3), (Bytes{0x91, 0x26, 0x6E})) << "only board 2 is faulty";
            } else {
                EXPECT_EQ(host.read(3), (Bytes{0x91, 0x26, 0x91})) << board;
                host.send({0x02});
                EXPECT_EQ(host.read(1), Bytes{0x26}) << board;
            }
            hostLeft = SteadyClock::now();
        }
        // The board is taken away: its port goes before the next one comes.
        EXPECT_TRUE(waitForLink(link, false)) << board;
        if (board == 2) {
            EXPECT_GE(SteadyClock::now() - hostLeft, 1500ms)
                << "a failed board stays until its host has gone quiet";
        }
    }
    EXPECT_EQ(sim.exitCode(), 0);
    const Bytes full = {0xE1, 0x94, 0x5A, 0x01, 0x02};
    EXPECT_EQ(fileBytes(record + ".1"), full);
    EXPECT_EQ(fileBytes(record + ".2"), (Bytes{0xE1, 0x94, 0x5A, 0x01}));
    EXPECT_EQ(fileBytes(record + ".3"), full);
    for (const char* board : {".1", ".2", ".3"}) {
        std::filesystem::remove(record + board);
    }
    std::filesystem::remove(script);
}

TEST(SimulateBoards, ALateLinkAndADeviceThatIgnoresTheFirstHandshake) {
    const std::string script = writeScript("late_tiny.pf3", kTiny);
    const std::string link = tempPath("late_port");
    const auto started = SteadyClock::now();
    Process sim({script, "--link", link, "--link-delay", "1", "--ignore-handshakes", "1",
                 "--lifetime", "20"});
    const std::string path = sim.line();
    ASSERT_FALSE(path.empty());
    EXPECT_FALSE(isLink(link)) << "the port is told at once, its link comes later";
    ASSERT_TRUE(waitForLink(link, true));
    EXPECT_GE(SteadyClock::now() - started, 1s);
    {
        Client host(link);
        ASSERT_TRUE(host.ok());
        host.send({0xE1, 0x94});
        EXPECT_TRUE(host.read(1, 300).empty()) << "the first handshake goes unanswered";
        host.send({0xE1, 0x94});
        EXPECT_EQ(host.read(2), (Bytes{0x91, 0x26}));
        host.send({0x5A, 0x01, 0x02});
        EXPECT_EQ(host.read(2), (Bytes{0x91, 0x26}));
    }
    EXPECT_EQ(sim.exitCode(), 0);
    EXPECT_FALSE(isLink(link));
    std::filesystem::remove(script);
}

// At 9600 baud a byte takes 1.04 ms. Every check is a lower bound: the device is
// never faster than its line, however slow the machine.
TEST(SimulateLineRate, BytesCrossAtTheByteTimeOfTheRateBothWays) {
    std::string text;
    Bytes sent = {0xE1, 0x94};
    for (int i = 0; i < 32; ++i) {
        const std::string hex = "0123456789ABCDEF";
        text += "T" + hex.substr(static_cast<std::size_t>(i / 16), 1) +
                hex.substr(static_cast<std::size_t>(i % 16), 1) + ":";
        sent.push_back(static_cast<std::uint8_t>(i));
    }
    text += "R11:R12:R13:R14:R15:R16:R17:R18:E\r\n:";
    const std::string script = writeScript("rate.pf3", text);
    Process sim({script, "--baud", "9600", "--lifetime", "20"});
    Client host(sim.line());
    ASSERT_TRUE(host.ok());

    const auto byteTime = std::chrono::nanoseconds(10'000'000'000LL / 9600);
    const auto start = SteadyClock::now();
    host.send(sent);
    Bytes got;
    const std::vector<SteadyClock::time_point> at = host.arrivals(10, got);
    ASSERT_EQ(got, (Bytes{0x91, 0x26, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18}));
    // The handshake reply: E1 94 in, then 91 26 out.
    EXPECT_GE(at[1] - start, 4 * byteTime);
    // The answer: all 34 bytes in, then its first byte out, and its last 7 later.
    EXPECT_GE(at[2] - start, 35 * byteTime);
    EXPECT_GE(at[9] - start, 42 * byteTime);
    const double limit = std::chrono::duration<double>(42 * byteTime).count();
    const double took = std::chrono::duration<double>(at[9] - start).count();
    RecordProperty("took_over_line_limit", std::to_string(took / limit));
    EXPECT_EQ(sim.exitCode(), 0);
    std::filesystem::remove(script);
}

}  // namespace
}  // namespace reburn3::sim
