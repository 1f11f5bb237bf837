// SPDX-License-Identifier: Apache-2.0
#include "run/run_ticks.h"

#include <chrono>

#include "adapters/qt_serial_driver.h"
#include "app/form1.h"
#include "run/run_listener.h"

namespace reburn3::run {

RunTicks::RunTicks(Form1& form, QtSerialDriver& driver, PortListener& events, TickClock* clock,
                   const FlashOptions& options, std::function<void()> tickOver, Ended ended)
    : m_form(form),
      m_driver(driver),
      m_events(events),
      m_options(options),
      m_afterTick(std::move(tickOver)),
      m_ended(std::move(ended)),
      m_timer(form, clock),
      m_limit(options.handshakeLimitSeconds) {
    // What a tick posts is told when the tick is over (PortListener::stepStarting).
    QObject::connect(&m_timer, &PreciseTickTimer::arriving, [this] { m_events.stepStarting(); });
    QObject::connect(&m_timer, &PreciseTickTimer::ticked, [this] {
        m_events.stepOver();
        afterTick();
        m_afterTick();
    });
    if (m_options.reactive) {
        QObject::connect(&m_driver, &QtSerialDriver::bytesArrived, &m_driver, [this] { react(); });
    }
    if (m_options.stats) {
        m_stats = std::make_unique<RunStats>();
        QObject::connect(&m_timer, &PreciseTickTimer::arriving, [this] { m_stats->tickArrived(); });
    }
}

void RunTicks::start() {
    if (m_stats) {
        m_stats->runStarted();
    }
    m_events.runStarted();
    m_clock.start();
    m_form.ProgramFlash_Click();
}

void RunTicks::afterTick() {
    if (!m_stopped &&
        m_limit.exceeded(std::chrono::steady_clock::now(), m_form.state().ProgramMode)) {
        giveUpHandshake();
        return;
    }
    if (m_options.reactive) {
        react();
        return;
    }
    checkEnd();
}

// --reactive: the step the device's data allows now, without waiting for a tick.
void RunTicks::react() {
    if (m_stopped) {
        return;
    }
    if (m_driver.isOpen()) {
        m_events.stepStarting();
        m_form.engine().reactiveStep();
        m_events.stepOver();
    }
    checkEnd();
}

void RunTicks::checkEnd() {
    if (!m_stopped && m_form.engine().outcome() != RunOutcome::None &&
        m_form.state().ProgramMode == 0) {
        m_ended(RunReason::None);
    }
}

// A device that never goes quiet: say why, abort the run as "Abort Process" would, and
// fail.
void RunTicks::giveUpHandshake() {
    m_events.deviceEvent("handshake-limit", m_limit.reason());
    m_form.ProgramFlash_Click();
    m_ended(RunReason::HandshakeLimit);
}

}  // namespace reburn3::run
