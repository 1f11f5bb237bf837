// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <chrono>
#include <cstdint>

namespace reburn3::sim {

// One direction of a UART line at a fixed rate with 8N1 framing: a byte takes ten
// bit times (start bit, eight data bits, stop bit) and reaches the far end when its
// stop bit has gone out. Bytes that queue up follow each other back to back. Times
// are kept from the start of each unbroken run of bytes, so that a long run does
// not drift by the rounding of one byte time.
class LinePace {
public:
    using Clock = std::chrono::steady_clock;

    // Ten bit times at `baud`; 0 means a line without a rate, on which a byte
    // arrives the moment it is ready.
    explicit LinePace(std::uint32_t baud = 0) : m_baud(baud) {}

    bool paced() const { return m_baud != 0; }
    std::chrono::nanoseconds byteTime() const { return frames(1); }

    // A byte ready to go at `ready` goes out as soon as the line is free and arrives
    // at the returned time; the line is busy until then.
    Clock::time_point send(Clock::time_point ready);
    // When the last byte sent arrives (the line is free from then on).
    Clock::time_point freeAt() const { return m_freeAt; }

private:
    std::chrono::nanoseconds frames(std::uint64_t bytes) const;

    std::uint32_t m_baud;
    Clock::time_point m_runStart{};
    std::uint64_t m_runBytes = 0;
    Clock::time_point m_freeAt{};
};

}  // namespace reburn3::sim
