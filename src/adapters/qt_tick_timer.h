// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QObject>
#include <QTimer>

#include "base/window_model.h"

namespace reburn3 {

class Form1;

// Drives Timer2 from the event loop: a precise QTimer that follows the window model's
// timer (enabled state and interval) and calls Form1::Timer2_Timer on every timeout.
// It registers itself with the model on construction and leaves it on destruction, so
// the core starts and stops it simply by enabling and disabling its timer.
class QtTickTimer : public QObject, public WindowListener {
    Q_OBJECT
public:
    explicit QtTickTimer(Form1& form, QObject* parent = nullptr);
    ~QtTickTimer() override;
    QtTickTimer(const QtTickTimer&) = delete;
    QtTickTimer& operator=(const QtTickTimer&) = delete;

    bool isActive() const { return m_timer.isActive(); }
    int interval() const { return m_timer.interval(); }

    void timerChanged() override;

signals:
    // After each tick has been handled.
    void ticked();

private:
    void onTimeout();

    Form1& m_form;
    QTimer m_timer;
};

}  // namespace reburn3
