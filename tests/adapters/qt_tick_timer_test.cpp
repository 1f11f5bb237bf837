// SPDX-License-Identifier: Apache-2.0
// QtTickTimer: Timer2 as a QTimer that follows the window model, in a real event loop.

#include <QElapsedTimer>
#include <QEventLoop>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

#include <fstream>
#include <functional>

#include <gtest/gtest.h>

#include "adapters/qt_tick_timer.h"
#include "app/form1.h"
#include "app/startup.h"
#include "fakes/fake_desktop.h"
#include "fakes/fake_serial_driver.h"

namespace reburn3 {
namespace {

using testing::FakeDesktop;
using testing::FakeSerialDriver;
using testing::FixedClock;

// Runs the event loop until `done` holds or the limit passes (the limit only keeps a
// broken adapter from hanging the test).
bool runUntil(const std::function<bool()>& done, int limitMs = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < limitMs) {
        QEventLoop loop;
        QTimer::singleShot(1, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return done();
}

class QtTickTimerTest : public ::testing::Test {
protected:
    FakeSerialDriver driver;
    FakeDesktop desktop;
    FixedClock clock;
    Form1 form{driver, desktop, clock};
};

TEST_F(QtTickTimerTest, FollowsTheModelsTimer) {
    QtTickTimer timer(form);
    EXPECT_FALSE(timer.isActive());

    form.window().setTimerInterval(5);
    form.window().setTimerEnabled(true);
    EXPECT_TRUE(timer.isActive());
    EXPECT_EQ(timer.interval(), 5);

    form.window().setTimerInterval(7);
    EXPECT_EQ(timer.interval(), 7);

    form.window().setTimerEnabled(false);
    EXPECT_FALSE(timer.isActive());
}

TEST_F(QtTickTimerTest, StartsRunningWhenTheModelAlreadyRuns) {
    form.window().setTimerEnabled(true);
    QtTickTimer timer(form);
    EXPECT_TRUE(timer.isActive());
}

TEST_F(QtTickTimerTest, EveryTimeoutIsOneTickOfTheStateMachine) {
    QtTickTimer timer(form);
    QSignalSpy ticks(&timer, &QtTickTimer::ticked);
    form.window().setTimerEnabled(true);
    ASSERT_TRUE(runUntil([&] { return ticks.count() >= 5; }));
    form.window().setTimerEnabled(false);
    EXPECT_EQ(form.engine().tickCount(), static_cast<std::uint64_t>(ticks.count()));

    // Stopped: no further tick however long the loop runs.
    const auto before = ticks.count();
    runUntil([] { return false; }, 50);
    EXPECT_EQ(ticks.count(), before);
}

TEST_F(QtTickTimerTest, DrivesAWholeRunFromTheEventLoop) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string script = (dir.path() + "/tiny.pf3").toStdString();
    std::ofstream(script, std::ios::binary) << "T5A:T01:R91:E\r\n:T02:R26:E\r\n:";

    // A device that answers the handshake and each T byte before an R record.
    driver.onByteWritten = [this](std::uint8_t b) {
        if (b == 0x94) {
            driver.receive({0x91, 0x26});
        } else if (b == 0x01) {
            driver.receive({0x91});
        } else if (b == 0x02) {
            driver.receive({0x26});
        }
    };
    desktop.answers.push_back(script);

    QtTickTimer timer(form);
    MainStartUp(form, "");
    form.SelectInputFile_Click();
    form.ConfigComPort_Click();
    form.ComxBtn_Click(1);
    form.Initialize_Click();
    ASSERT_TRUE(timer.isActive());
    form.ProgramFlash_Click();
    ASSERT_NE(form.state().ProgramMode, 0);

    ASSERT_TRUE(runUntil([&] { return form.state().ProgramMode == 0; }));
    EXPECT_EQ(form.engine().outcome(), RunOutcome::Completed);
    EXPECT_EQ(driver.written(), (std::vector<std::uint8_t>{0xE1, 0x94, 0x5A, 0x01, 0x02}));
    // The port stays open after a run, and so the timer keeps ticking.
    EXPECT_TRUE(timer.isActive());

    form.AbortProgram_Click();
    EXPECT_FALSE(timer.isActive());
    EXPECT_TRUE(desktop.ended);
}

}  // namespace
}  // namespace reburn3
