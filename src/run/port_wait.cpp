// SPDX-License-Identifier: Apache-2.0
#include "run/port_wait.h"

#include "adapters/qt_serial_driver.h"
#include "base/window_model.h"
#include "run/port_diagnosis.h"
#include "run/precise_tick_timer.h"

namespace reburn3::run {

namespace {

// How often --wait-for-port looks for the device.
constexpr int kPortPollMs = 50;

}  // namespace

PortWait::PortWait(std::function<void()> ready, std::function<void()> timedOut)
    : m_ready(std::move(ready)), m_timedOut(std::move(timedOut)) {
    m_timer.setInterval(kPortPollMs);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { look(); });
}

void PortWait::start(const std::string& device, double seconds) {
    m_device = device;
    m_seconds = seconds;
    m_clock.start();
    m_timer.start();
}

void PortWait::stop() {
    m_timer.stop();
}

void PortWait::look() {
    if (portReady(m_device)) {
        m_timer.stop();
        m_ready();
        return;
    }
    if (static_cast<double>(m_clock.elapsed()) >= m_seconds * 1000.0) {
        m_timer.stop();
        m_timedOut();
    }
}

LineSettling::LineSettling(QtSerialDriver& driver, TickClock* clock, Ended ended)
    : m_driver(driver), m_clock(clock), m_ended(std::move(ended)) {}

LineSettling::~LineSettling() {
    stop();
}

void LineSettling::start(std::int16_t portNumber, double quietSeconds, double limitSeconds) {
    m_portNumber = portNumber;
    m_quietSeconds = quietSeconds;
    m_limitSeconds = limitSeconds;
    m_driver.FlushReceiveBuffer(m_portNumber);
    const auto now = std::chrono::steady_clock::now();
    m_quietTime.start(now);
    m_settleTime.start(now);
    m_settling = true;
    if (m_clock != nullptr) {
        QObject::connect(m_clock, &TickClock::expired, &m_timer, [this] { tick(); });
        m_clock->acquire();
    } else {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { tick(); });
        m_timer.start(WindowModel::kTimerInterval);
    }
}

void LineSettling::stop() {
    if (!m_settling) {
        return;
    }
    m_settling = false;
    m_timer.stop();
    if (m_clock != nullptr) {
        QObject::disconnect(m_clock, nullptr, &m_timer, nullptr);
        m_clock->release();
    }
}

void LineSettling::tick() {
    if (!m_settling) {
        return;
    }
    // Bounded per tick, so that a device that floods the line cannot hold the loop.
    constexpr int kMostPerTick = 4096;
    bool heard = false;
    for (int i = 0; i < kMostPerTick && m_driver.IsReceiveBufferEmpty(m_portNumber) == 0; ++i) {
        m_driver.GetByte(m_portNumber);
        heard = true;
    }
    if (m_driver.deviceLost()) {
        stop();
        m_ended(End::DeviceLost);
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (heard) {
        m_quietTime.start(now);
    }
    const std::chrono::duration<double> quiet = m_quietTime.elapsed(now);
    if (quiet.count() >= m_quietSeconds) {
        stop();
        m_ended(End::Quiet);
        return;
    }
    const std::chrono::duration<double> settling = m_settleTime.elapsed(now);
    if (m_limitSeconds > 0.0 && settling.count() >= m_limitSeconds + m_quietSeconds) {
        stop();
        m_ended(End::GaveUp);
    }
}

}  // namespace reburn3::run
