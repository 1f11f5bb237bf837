// SPDX-License-Identifier: Apache-2.0
#include "run/handshake_limit.h"

#include <cstdio>

#include "run/run_texts.h"

namespace reburn3::run {

namespace {

bool isHandshakeMode(std::int16_t mode) {
    return mode == 101 || mode == 102 || mode == 103;
}

}  // namespace

HandshakeLimit::HandshakeLimit(double seconds)
    : m_seconds(seconds),
      m_limit(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
          std::chrono::duration<double>(seconds))) {}

bool HandshakeLimit::exceeded(std::chrono::steady_clock::time_point now, std::int16_t programMode) {
    if (!isHandshakeMode(programMode)) {
        m_inHandshake = false;
        return false;
    }
    if (!m_inHandshake) {
        m_inHandshake = true;
        m_time.start(now);
    }
    const std::chrono::steady_clock::duration lasted = m_time.elapsed(now);
    return m_limit.count() > 0 && lasted >= m_limit;
}

std::string HandshakeLimit::reason() const {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%g", m_seconds);
    return std::string(texts::kHandshakeLimit1) + seconds + std::string(texts::kHandshakeLimit2);
}

}  // namespace reburn3::run
