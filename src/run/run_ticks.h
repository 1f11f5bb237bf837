// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QElapsedTimer>

#include <cstdint>
#include <functional>
#include <memory>

#include "engine/run_result.h"
#include "run/handshake_limit.h"
#include "run/precise_tick_timer.h"
#include "run/run_options.h"
#include "run/run_stats.h"

namespace reburn3 {
class Form1;
class QtSerialDriver;
}  // namespace reburn3

namespace reburn3::run {

class PortListener;

// Drives one port's run: the engine's 5 ms ticks (from the command's clock, or a timer of
// its own), what each posts told once it is over, the steps between ticks as soon as the
// device's bytes arrive (--reactive), the handshake's limit, --stats' timing of the ticks,
// and the end of the run when the engine has decided it. The end is told once through
// `ended`, with the reason of the session's own (None: the run's, HandshakeLimit).
class RunTicks {
public:
    using Ended = std::function<void(RunReason)>;

    RunTicks(Form1& form, QtSerialDriver& driver, PortListener& events, TickClock* clock,
             const FlashOptions& options, std::function<void()> tickOver, Ended ended);
    RunTicks(const RunTicks&) = delete;
    RunTicks& operator=(const RunTicks&) = delete;

    // "Program FLASH": the run starts, timed from now.
    void start();
    // The session has ended: no further step, and no end told.
    void stop() { m_stopped = true; }

    // The run's time since start(); 0 when it never started.
    std::int64_t elapsedMs() const { return m_clock.isValid() ? m_clock.elapsed() : 0; }
    const HandshakeLimit& handshakeLimit() const { return m_limit; }
    // --stats: the measurements; null without --stats.
    RunStats* stats() { return m_stats.get(); }
    // The object the run's own timers live on: it dies with the run.
    QObject* context() { return &m_timer; }

private:
    void afterTick();
    void react();
    void checkEnd();
    void giveUpHandshake();

    Form1& m_form;
    QtSerialDriver& m_driver;
    PortListener& m_events;
    const FlashOptions& m_options;
    std::function<void()> m_afterTick;
    Ended m_ended;
    PreciseTickTimer m_timer;
    HandshakeLimit m_limit;
    std::unique_ptr<RunStats> m_stats;
    QElapsedTimer m_clock;
    bool m_stopped = false;
};

}  // namespace reburn3::run
