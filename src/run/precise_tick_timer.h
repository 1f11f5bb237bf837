// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QObject>
#include <QTimer>

#include <memory>

#include "base/window_model.h"

class QSocketNotifier;

namespace reburn3 {
class Form1;
}

namespace reburn3::run {

// One 5 ms timerfd for every port of a command, so that N ports wake the process once a
// tick, not N times. It runs while any port's timer is on; every expiry is told once.
class TickClock : public QObject {
    Q_OBJECT
public:
    explicit TickClock(int intervalMs, QObject* parent = nullptr);
    ~TickClock() override;
    TickClock(const TickClock&) = delete;
    TickClock& operator=(const TickClock&) = delete;

    int interval() const { return m_interval; }
    // A port's timer went on / off: the clock runs while any is on.
    void acquire();
    void release();

signals:
    void expired();

private:
    void onReadable();

    int m_interval;
    int m_fd = -1;
    int m_users = 0;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QTimer m_fallback;
};

// Timer2 for the command line, on a Linux timerfd watched by the event loop.
//
// Qt's own timers wait in whole milliseconds, so a 5 ms QTimer fires about every
// 5.1 ms and makes up for it with a 4.1 ms period now and then. A timerfd keeps the
// kernel's schedule to the nanosecond: every period is 5 ms plus only the wake-up
// latency of the moment. Like QtTickTimer, it follows the window model's timer (enabled
// state and interval) and calls Form1::Timer2_Timer once per expiry; expiries missed
// while the program was busy are dropped, as a window timer drops them. Where there is
// no timerfd it falls back to a precise QTimer. Both come from a TickClock: the shared one
// it is given, for the interval that clock keeps, or else a clock of its own.
class PreciseTickTimer : public QObject, public WindowListener {
    Q_OBJECT
public:
    explicit PreciseTickTimer(Form1& form, TickClock* clock = nullptr, QObject* parent = nullptr);
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
    TickClock* ownClock(int intervalMs);
    void tick();

    Form1& m_form;
    TickClock* m_clock;                // shared by every port of a command, or null
    std::unique_ptr<TickClock> m_own;  // for any other interval
    TickClock* m_armedOn = nullptr;    // the clock whose expiries are ticks now
    bool m_active = false;
    int m_interval = 0;
};

}  // namespace reburn3::run
