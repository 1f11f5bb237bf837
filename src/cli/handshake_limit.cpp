// SPDX-License-Identifier: Apache-2.0
#include "cli/handshake_limit.h"

#include <cmath>
#include <cstdio>

#include "cli/cli_texts.h"

namespace reburn3::cli {

namespace {

constexpr double kTickSeconds = 0.005;

bool isHandshakeMode(std::int16_t mode) {
    return mode == 101 || mode == 102 || mode == 103;
}

}  // namespace

HandshakeLimit::HandshakeLimit(double seconds)
    : m_seconds(seconds),
      m_limitTicks(static_cast<std::uint64_t>(std::ceil(seconds / kTickSeconds))) {}

bool HandshakeLimit::exceeded(std::uint64_t tickCount, std::int16_t programMode) {
    if (!isHandshakeMode(programMode)) {
        m_inHandshake = false;
        return false;
    }
    if (!m_inHandshake) {
        m_inHandshake = true;
        m_firstTick = tickCount;
    }
    return m_limitTicks > 0 && tickCount - m_firstTick >= m_limitTicks;
}

std::string HandshakeLimit::reason() const {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%g", m_seconds);
    return std::string(texts::kHandshakeLimit1) + seconds + std::string(texts::kHandshakeLimit2);
}

}  // namespace reburn3::cli
