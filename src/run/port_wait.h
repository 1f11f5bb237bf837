// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QElapsedTimer>
#include <QTimer>

#include <cstdint>
#include <functional>

#include "run/stop_aware_time.h"

namespace reburn3 {
class QtSerialDriver;
}

namespace reburn3::run {

class TickClock;

// True when `device` exists, opens, as a USB adapter does once it has enumerated, and is
// not held by another process (a lock of its own, or the exclusive mode, EBUSY).
bool portReady(const std::string& device);

// --wait-for-port: the device is looked for every 50 ms until it opens or the time is
// up. Told once, through `ready` or `timedOut`.
class PortWait {
public:
    PortWait(std::function<void()> ready, std::function<void()> timedOut);
    void start(const std::string& device, double seconds);
    void stop();

private:
    void look();

    std::function<void()> m_ready;
    std::function<void()> m_timedOut;
    std::string m_device;
    double m_seconds = 0.0;
    QTimer m_timer;
    QElapsedTimer m_clock;
};

// --retries: a new attempt starts clean. An answer to an earlier attempt's handshake
// may still be on its way (a device that answers late); taken now, it would pass for
// this attempt's answer. So what the port holds is discarded, and the handshake
// starts only once the line has stayed quiet for --retry-quiet (2 s by default), the
// wait starting again at every byte: an answer later than the handshake's own window
// (270 ms) by less than that arrives during the wait and is dropped with it. A line
// that never goes quiet is given up once it has been given the handshake limit on top
// of the quiet time, as a handshake that never ends is. Time the process spent stopped
// counts for neither. It looks at every tick of the command's clock (or a timer of its
// own) and tells its end once.
class LineSettling {
public:
    enum class End { Quiet, DeviceLost, GaveUp };
    using Ended = std::function<void(End)>;

    LineSettling(QtSerialDriver& driver, TickClock* clock, Ended ended);
    ~LineSettling();
    LineSettling(const LineSettling&) = delete;
    LineSettling& operator=(const LineSettling&) = delete;

    // Starts on port `portNumber`: quiet for `quietSeconds`, given up after
    // `limitSeconds` (0: never) on top of that.
    void start(std::int16_t portNumber, double quietSeconds, double limitSeconds);
    void stop();
    bool settling() const { return m_settling; }

private:
    void tick();

    QtSerialDriver& m_driver;
    TickClock* m_clock;
    Ended m_ended;
    std::int16_t m_portNumber = 1;
    double m_quietSeconds = 0.0;
    double m_limitSeconds = 0.0;
    QTimer m_timer;
    StopAwareTime m_settleTime;
    StopAwareTime m_quietTime;
    bool m_settling = false;
};

}  // namespace reburn3::run
