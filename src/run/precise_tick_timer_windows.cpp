// SPDX-License-Identifier: Apache-2.0
// The shared tick clock on Windows: a precise QTimer (whole milliseconds).
#include "run/precise_tick_timer.h"

#include <QSocketNotifier>

namespace reburn3::run {

TickClock::TickClock(int intervalMs, QObject* parent) : QObject(parent), m_interval(intervalMs) {
    m_fallback.setTimerType(Qt::PreciseTimer);
    connect(&m_fallback, &QTimer::timeout, this, &TickClock::expired);
}

TickClock::~TickClock() = default;

void TickClock::acquire() {
    if (m_users++ == 0) {
        m_fallback.start(m_interval);
    }
}

void TickClock::release() {
    if (m_users > 0 && --m_users == 0) {
        m_fallback.stop();
    }
}

void TickClock::onReadable() {
    emit expired();
}

}  // namespace reburn3::run
