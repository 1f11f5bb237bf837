// SPDX-License-Identifier: Apache-2.0
#include "sim/line_pace.h"

namespace reburn3::sim {

std::chrono::nanoseconds LinePace::frames(std::uint64_t bytes) const {
    if (m_baud == 0) {
        return std::chrono::nanoseconds{0};
    }
    constexpr std::uint64_t kBitsPerByte = 10;
    constexpr std::uint64_t kNanosPerSecond = 1'000'000'000;
    // Rounded up, so that a byte never arrives before its stop bit has gone out.
    const std::uint64_t bitNanos = bytes * kBitsPerByte * kNanosPerSecond;
    return std::chrono::nanoseconds{(bitNanos + m_baud - 1) / m_baud};
}

LinePace::Clock::time_point LinePace::send(Clock::time_point ready) {
    if (m_runBytes == 0 || ready > m_freeAt) {
        // The line was idle: a new run of bytes starts with this one.
        m_runStart = ready;
        m_runBytes = 0;
    }
    ++m_runBytes;
    m_freeAt = m_runStart + frames(m_runBytes);
    return m_freeAt;
}

}  // namespace reburn3::sim
