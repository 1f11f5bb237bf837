// SPDX-License-Identifier: Apache-2.0
// The shared tick clock on Linux: a timerfd, exact to the nanosecond, watched by the event
// loop; a precise QTimer only should the kernel refuse the timerfd.
#include "run/precise_tick_timer.h"

#include <QSocketNotifier>

#include <algorithm>
#include <cstdint>

#include <sys/prctl.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace reburn3::run {

TickClock::TickClock(int intervalMs, QObject* parent) : QObject(parent), m_interval(intervalMs) {
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    m_fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_fd >= 0) {
        m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
        m_notifier->setEnabled(false);
        connect(m_notifier.get(), &QSocketNotifier::activated, this, &TickClock::onReadable);
    }
    m_fallback.setTimerType(Qt::PreciseTimer);
    connect(&m_fallback, &QTimer::timeout, this, &TickClock::expired);
}

TickClock::~TickClock() {
    m_notifier.reset();
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

void TickClock::acquire() {
    if (m_users++ > 0) {
        return;
    }
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
    m_fallback.start(m_interval);
}

void TickClock::release() {
    if (m_users == 0 || --m_users > 0) {
        return;
    }
    if (m_fd >= 0) {
        const itimerspec off{};
        timerfd_settime(m_fd, 0, &off, nullptr);
        m_notifier->setEnabled(false);
        return;
    }
    m_fallback.stop();
}

void TickClock::onReadable() {
    std::uint64_t expiries = 0;
    if (::read(m_fd, &expiries, sizeof expiries) != static_cast<ssize_t>(sizeof expiries)) {
        return;
    }
    emit expired();
}

}  // namespace reburn3::run
