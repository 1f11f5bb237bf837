// SPDX-License-Identifier: Apache-2.0
// What the tests of the simulated device share: a raw POSIX host on the port, the
// stand-alone simulator as a child process, and temporary files.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#ifndef REBURN3_SIM_EXE
#error "REBURN3_SIM_EXE must name the reburn3-sim executable"
#endif

extern char** environ;

namespace reburn3::sim::simtest {

using Bytes = std::vector<std::uint8_t>;

// Generous: only reached when something is broken.
constexpr int kWaitMs = 5000;

inline std::string tempPath(const std::string& name) {
    return ::testing::TempDir() + "/" + name + "." + std::to_string(::getpid());
}

inline Bytes fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::string writeScript(const std::string& name, const std::string& text) {
    const std::string path = tempPath(name);
    std::ofstream(path, std::ios::binary) << text;
    return path;
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
    // Writes as much of `bytes` as the line takes without waiting; returns how much.
    std::size_t sendWhatFits(const Bytes& bytes) {
        const int flags = ::fcntl(m_fd, F_GETFL);
        ::fcntl(m_fd, F_SETFL, flags | O_NONBLOCK);
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::write(m_fd, bytes.data() + sent, bytes.size() - sent);
            if (n <= 0) {
                break;
            }
            sent += static_cast<std::size_t>(n);
        }
        ::fcntl(m_fd, F_SETFL, flags);
        return sent;
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

    // Reads `n` bytes one at a time and notes when each one arrived.
    std::vector<std::chrono::steady_clock::time_point> arrivals(std::size_t n, Bytes& got) {
        std::vector<std::chrono::steady_clock::time_point> times;
        while (got.size() < n) {
            pollfd p{m_fd, POLLIN, 0};
            std::uint8_t b = 0;
            if (::poll(&p, 1, kWaitMs) <= 0 || ::read(m_fd, &b, 1) != 1) {
                break;
            }
            times.push_back(std::chrono::steady_clock::now());
            got.push_back(b);
        }
        return times;
    }

private:
    int m_fd = -1;
};

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

    // The next line of its standard output, without the line end; empty when none
    // comes within `ms`.
    std::string line(int ms = kWaitMs) {
        std::string line;
        char c = 0;
        for (;;) {
            pollfd p{m_out, POLLIN, 0};
            if (::poll(&p, 1, ms) <= 0 || ::read(m_out, &c, 1) != 1 || c == '\n') {
                return line;
            }
            line += c;
        }
    }
    std::string firstLine() { return line(); }
    void signal(int sig) { ::kill(m_pid, sig); }
    // The exit code, or -1 if the process does not end in time or died of a signal.
    int exitCode(int ms = kWaitMs) {
        for (int waited = 0; waited < ms; waited += 10) {
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

}  // namespace reburn3::sim::simtest
