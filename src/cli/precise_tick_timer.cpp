// SPDX-License-Identifier: Apache-2.0
#include "cli/precise_tick_timer.h"

#include <QSocketNotifier>

#include <algorithm>
#include <cstdint>

#include "app/form1.h"

#ifdef __linux__
#include <sys/prctl.h>
#include <sys/timerfd.h>
#include <unistd.h>
#endif

namespace reburn3::cli {

TickClock::TickClock(int intervalMs, QObject* parent) : QObject(parent), m_interval(intervalMs) {
#ifdef __linux__
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    m_fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_fd >= 0) {
        m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
        m_notifier->setEnabled(false);
        connect(m_notifier.get(), &QSocketNotifier::activated, this, &TickClock::onReadable);
    }
#endif
    m_fallback.setTimerType(Qt::PreciseTimer);
    connect(&m_fallback, &QTimer::timeout, this, &TickClock::expired);
}

TickClock::~TickClock() {
    m_notifier.reset();
#ifdef __linux__
    if (m_fd >= 0) {
        ::close(m_fd);
    }
#endif
}

void TickClock::acquire() {
    if (m_users++ > 0) {
        return;
    }
#ifdef __linux__
    if (m_fd >= 0) {
        const long ns = static_cast<long>(std::max(m_interval, 1)) * 1'000'000L;
        itimerspec period{};
        period.it_interval.tv_sec = ns / 1'000'000'000L;
        period.it_interval.tv_nsec = ns % 1'000'000'000L;
        period.it_value = period.it_interval;
        timerfd_settime(m_fd, 0, &period, nullptr);
        m_notifier->setEnabled(true);
        return;
    }
#endif
    m_fallback.start(m_interval);
}

void TickClock::release() {
    if (m_users == 0 || --m_users > 0) {
        return;
    }
#ifdef __linux__
    if (m_fd >= 0) {
        const itimerspec off{};
        timerfd_settime(m_fd, 0, &off, nullptr);
        m_notifier->setEnabled(false);
        return;
    }
#endif
    m_fallback.stop();
}

void TickClock::onReadable() {
#ifdef __linux__
    std::uint64_t expiries = 0;
    if (::read(m_fd, &expiries, sizeof expiries) != static_cast<ssize_t>(sizeof expiries)) {
        return;
    }
#endif
    emit expired();
}

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

}  // namespace reburn3::cli
