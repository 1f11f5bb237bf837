#pragma once

#include <QObject>
#include <QTimer>

#include <memory>

#include "ui/window_model.h"

class QSocketNotifier;

namespace reburn3 {
class Form1;
}

namespace reburn3::cli {

// Timer2 for the command line, on a Linux timerfd watched by the event loop.
//
// Qt's own timers wait in whole milliseconds, so a 5 ms QTimer fires about every
// 5.1 ms and makes up for it with a 4.1 ms period now and then. A timerfd keeps the
// kernel's schedule to the nanosecond: every period is 5 ms plus only the wake-up
// latency of the moment. Like QtTickTimer, it follows the window model's timer (enabled
// state and interval) and calls Form1::Timer2_Timer once per expiry; expiries missed
// while the program was busy are dropped, as a window timer drops them. Where there is
// no timerfd it falls back to a precise QTimer.
class PreciseTickTimer : public QObject, public WindowListener {
    Q_OBJECT
public:
    explicit PreciseTickTimer(Form1& form, QObject* parent = nullptr);
    ~PreciseTickTimer() override;
    PreciseTickTimer(const PreciseTickTimer&) = delete;
    PreciseTickTimer& operator=(const PreciseTickTimer&) = delete;

    bool isActive() const { return m_active; }
    int interval() const { return m_interval; }

    void timerChanged() override;

signals:
    // A tick has arrived and is about to be handled.
    void arriving();
    // After each tick has been handled.
    void ticked();

private:
    void arm(int intervalMs);
    void disarm();
    void onExpired();

    Form1& m_form;
    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QTimer m_fallback;
    bool m_active = false;
    int m_interval = 0;
};

}  // namespace reburn3::cli
