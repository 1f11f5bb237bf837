// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "run/stop_aware_time.h"

namespace reburn3::run {

// The command line's bound on the whole handshake. The handshake ends only after the
// device has been quiet for 54 ticks, so a device that never stops sending would keep
// it waiting for ever. The window keeps that wait, since its operator can abort; a
// command line, often unattended, gives up after a limit and says why.
class HandshakeLimit {
public:
    static constexpr double kDefaultSeconds = 5.0;
    static constexpr double kLeastSeconds = 1.0;  // well above the handshake's own 285 ms

    // 0 seconds: no limit.
    explicit HandshakeLimit(double seconds);

    // Told after every tick; true once the handshake has lasted the limit on the monotonic
    // clock. Not in ticks: a device that floods the line may delay the ticks themselves.
    // The spans the process was stopped in do not count (see StopAwareTime).
    bool exceeded(std::chrono::steady_clock::time_point now, std::int16_t programMode);
    // The line that says why the run was given up.
    std::string reason() const;

private:
    double m_seconds;
    std::chrono::steady_clock::duration m_limit;
    bool m_inHandshake = false;
    StopAwareTime m_time;
};

}  // namespace reburn3::run
