// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "app/form1.h"
#include "app/startup.h"
#include "fakes/expected_lines.h"
#include "fakes/fake_desktop.h"
#include "fakes/fake_serial_driver.h"

namespace reburn3::testing {

// A whole program on fakes: a fresh driver, desktop and clock for every test, and
// ticks delivered only when the test asks for them.
class CoreTest : public ::testing::Test {
protected:
    CoreTest();
    ~CoreTest() override;

    // Writes a script into the test's own folder and returns its path.
    std::string writeScript(const std::string& name, const std::string& content);
    // Start-up, a script chosen in the file dialog and the port opened from the dialog.
    void startWithScript(const std::string& content);
    void openPort(std::int16_t port = 6);
    void selectScript(const std::string& path);

    // One tick of Timer2, if the timer is enabled (as the real timer would).
    void tick();
    void ticks(int n);
    // Ticks until the run is over; returns how many ticks it took.
    int runToEnd(int limit = 100000);
    // Starts a run and answers the handshake at once.
    void startRunWithGoodHandshake();

    const std::deque<std::string>& status() const {
        return form.window().log(LogId::Status).lines();
    }
    const std::deque<std::string>& debug() const { return form.window().log(LogId::Debug).lines(); }
    bool statusHas(const std::string& line) const;
    bool debugHas(const std::string& line) const;
    std::size_t statusCount(const std::string& line) const;
    const std::string& textOf(TextBoxId box) const { return form.window().text(box); }
    const CommandButton& button(ButtonId id) const { return form.window().button(id); }

    FakeSerialDriver driver;
    FakeDesktop desktop;
    FixedClock clock;
    Form1 form{driver, desktop, clock};
    ProgramState& S = form.state();
    std::uint64_t now = 0;
    std::filesystem::path dir;
};

// Script text from records written as "T5A R91 E ..." (E stands for E CR LF :).
std::string scriptOf(const std::string& records);

}  // namespace reburn3::testing
