// SPDX-License-Identifier: Apache-2.0
#include "support/test_fixture.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace reburn3::testing {

namespace fs = std::filesystem;

CoreTest::CoreTest() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = fs::temp_directory_path() / ("reburn3-core-" + std::to_string(::getpid()) + "-" +
                                       std::string(info->test_suite_name()) + "-" + info->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
}

CoreTest::~CoreTest() {
    std::error_code ec;
    fs::remove_all(dir, ec);
}

std::string CoreTest::writeScript(const std::string& name, const std::string& content) {
    const fs::path path = dir / name;
    std::ofstream(path, std::ios::binary) << content;
    return path.string();
}

void CoreTest::selectScript(const std::string& path) {
    desktop.answers.push_back(path);
    form.SelectInputFile_Click();
}

void CoreTest::openPort(std::int16_t port) {
    form.ConfigComPort_Click();
    form.ComxBtn_Click(port);
    form.Initialize_Click();
}

void CoreTest::startWithScript(const std::string& content) {
    MainStartUp(form, "");
    selectScript(writeScript("script.pf3", content));
    openPort();
}

void CoreTest::tick() {
    ++now;
    driver.advanceTo(now);
    if (form.window().timerEnabled()) {
        form.Timer2_Timer();
    }
}

void CoreTest::ticks(int n) {
    for (int i = 0; i < n; ++i) {
        tick();
    }
}

int CoreTest::runToEnd(int limit) {
    int n = 0;
    while (S.ProgramMode != 0 && n < limit) {
        tick();
        ++n;
    }
    return n;
}

void CoreTest::startRunWithGoodHandshake() {
    driver.onByteWritten = [this](std::uint8_t b) {
        if (b == 0x94) {
            driver.receive({0x91, 0x26});
        }
    };
    form.ProgramFlash_Click();
}

bool CoreTest::statusHas(const std::string& line) const {
    return std::find(status().begin(), status().end(), line) != status().end();
}

bool CoreTest::debugHas(const std::string& line) const {
    return std::find(debug().begin(), debug().end(), line) != debug().end();
}

std::size_t CoreTest::statusCount(const std::string& line) const {
    return static_cast<std::size_t>(std::count(status().begin(), status().end(), line));
}

std::string scriptOf(const std::string& records) {
    std::istringstream in(records);
    std::string out;
    std::string word;
    while (in >> word) {
        if (word == "E") {
            out += "E\r\n:";
        } else {
            out += word + ":";
        }
    }
    return out;
}

}  // namespace reburn3::testing
