// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <chrono>
#include <cstdint>

namespace reburn3::run {

// Time that leaves out the spans the process itself spent stopped (Ctrl-Z, SIGSTOP, a
// debugger): the device went on while it was, and its answer waits in the port. A bound on
// the device's behaviour, such as the handshake's, must not fail a healthy device that
// answered while nobody was listening. A stop is seen by the SIGCONT that ends it; the span
// left out is the time since the previous look, so look often (every tick).
class StopAwareTime {
public:
    using Clock = std::chrono::steady_clock;

    StopAwareTime();
    void start(Clock::time_point now);
    // The time since start(), less the stopped spans seen since.
    Clock::duration elapsed(Clock::time_point now);

private:
    Clock::time_point m_start;
    Clock::time_point m_lastLook;
    Clock::duration m_stopped{};
    std::uint64_t m_continues = 0;
};

// How many times this process has been continued after a stop; installs the watch on
// SIGCONT at its first call.
std::uint64_t continuesSoFar();

}  // namespace reburn3::run
