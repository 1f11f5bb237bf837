// SPDX-License-Identifier: Apache-2.0
// The tick timer of the headless run in a real event loop.

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cstdint>
#include <functional>

#include <gtest/gtest.h>

#include "app/form1.h"
#include "fakes/fake_desktop.h"
#include "fakes/fake_serial_driver.h"
#include "run/precise_tick_timer.h"

namespace reburn3::run {
namespace {

// Runs the event loop for about `ms` milliseconds, or until `done` holds.
void spinFor(
    int ms, const std::function<bool()>& done = [] { return false; }) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms) {
        QEventLoop loop;
        QTimer::singleShot(1, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

TEST(PreciseTickTimer, FollowsTheModelAndEveryExpiryIsOneTick) {
    testing::FakeSerialDriver driver;
    testing::FakeDesktop desktop;
    testing::FixedClock clock;
    Form1 form(driver, desktop, clock);
    PreciseTickTimer timer(form);
    int arriving = 0;
    int ticked = 0;
    bool arrivedFirst = true;
    QObject::connect(&timer, &PreciseTickTimer::arriving, [&] { ++arriving; });
    QObject::connect(&timer, &PreciseTickTimer::ticked, [&] {
        ++ticked;
        arrivedFirst = arrivedFirst && arriving == ticked;
    });
    EXPECT_FALSE(timer.isActive());

    form.window().setTimerInterval(5);
    form.window().setTimerEnabled(true);
    EXPECT_TRUE(timer.isActive());
    EXPECT_EQ(timer.interval(), 5);
    spinFor(5000, [&] { return ticked >= 5; });
    ASSERT_GE(ticked, 5);
    EXPECT_TRUE(arrivedFirst);
    EXPECT_EQ(form.engine().tickCount(), static_cast<std::uint64_t>(ticked));

    form.window().setTimerInterval(7);
    EXPECT_EQ(timer.interval(), 7);
    form.window().setTimerEnabled(false);
    EXPECT_FALSE(timer.isActive());
    const int before = ticked;
    spinFor(40);
    EXPECT_EQ(ticked, before);  // stopped: no tick however long the loop runs
}

}  // namespace
}  // namespace reburn3::run
