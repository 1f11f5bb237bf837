// SPDX-License-Identifier: Apache-2.0
#include "adapters/qt_tick_timer.h"

#include "app/form1.h"

namespace reburn3 {

QtTickTimer::QtTickTimer(Form1& form, QObject* parent) : QObject(parent), m_form(form) {
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setSingleShot(false);
    connect(&m_timer, &QTimer::timeout, this, &QtTickTimer::onTimeout);
    m_form.window().addListener(this);
    timerChanged();
}

QtTickTimer::~QtTickTimer() {
    m_form.window().removeListener(this);
}

void QtTickTimer::timerChanged() {
    const WindowModel& model = m_form.window();
    if (!model.timerEnabled()) {
        m_timer.stop();
        return;
    }
    const int interval = model.timerInterval();
    if (!m_timer.isActive()) {
        m_timer.start(interval);
    } else if (m_timer.interval() != interval) {
        m_timer.setInterval(interval);
    }
}

void QtTickTimer::onTimeout() {
    m_form.Timer2_Timer();
    emit ticked();
}

}  // namespace reburn3
