// SPDX-License-Identifier: Apache-2.0
#include "run/stop_aware_time.h"

namespace reburn3::run {

StopAwareTime::StopAwareTime() : m_continues(continuesSoFar()) {}

void StopAwareTime::start(Clock::time_point now) {
    m_start = now;
    m_lastLook = now;
    m_stopped = Clock::duration::zero();
    m_continues = continuesSoFar();
}

StopAwareTime::Clock::duration StopAwareTime::elapsed(Clock::time_point now) {
    if (const std::uint64_t continues = continuesSoFar(); continues != m_continues) {
        m_continues = continues;
        m_stopped += now - m_lastLook;
    }
    m_lastLook = now;
    return now - m_start - m_stopped;
}

}  // namespace reburn3::run
