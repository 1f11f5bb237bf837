// SPDX-License-Identifier: Apache-2.0
#include "run/precise_tick_timer.h"

#include "app/form1.h"

namespace reburn3::run {

PreciseTickTimer::PreciseTickTimer(Form1& form, TickClock* clock, QObject* parent)
    : QObject(parent), m_form(form), m_clock(clock) {
    if (m_clock != nullptr) {
        connect(m_clock, &TickClock::expired, this, [this] {
            if (m_armedOn == m_clock) {
                tick();
            }
        });
    }
    m_form.window().addListener(this);
    timerChanged();
}

PreciseTickTimer::~PreciseTickTimer() {
    m_form.window().removeListener(this);
    disarm();
}

void PreciseTickTimer::timerChanged() {
    const WindowModel& model = m_form.window();
    if (!model.timerEnabled()) {
        disarm();
        return;
    }
    if (!m_active || m_interval != model.timerInterval()) {
        arm(model.timerInterval());
    }
}

void PreciseTickTimer::arm(int intervalMs) {
    disarm();
    m_active = true;
    m_interval = intervalMs;
    m_armedOn =
        m_clock != nullptr && intervalMs == m_clock->interval() ? m_clock : ownClock(intervalMs);
    m_armedOn->acquire();
}

void PreciseTickTimer::disarm() {
    m_active = false;
    if (m_armedOn != nullptr) {
        m_armedOn->release();
        m_armedOn = nullptr;
    }
}

// A clock of this timer's own for `intervalMs`, made anew when the interval changes.
TickClock* PreciseTickTimer::ownClock(int intervalMs) {
    if (!m_own || m_own->interval() != intervalMs) {
        m_own = std::make_unique<TickClock>(intervalMs);
        connect(m_own.get(), &TickClock::expired, this, [this] {
            if (m_armedOn == m_own.get()) {
                tick();
            }
        });
    }
    return m_own.get();
}

void PreciseTickTimer::tick() {
    emit arriving();
    m_form.Timer2_Timer();
    emit ticked();
}

}  // namespace reburn3::run
