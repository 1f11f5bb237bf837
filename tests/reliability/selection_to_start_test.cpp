// SPDX-License-Identifier: Apache-2.0
// The script changed on disk between "Select Input File" and "Program FLASH", as an
// operator of the window can do: the run start opens the file again and checks it whole,
// so what is played is the file as it is then, and a file that is gone or broken by then
// sends nothing. Tick by tick on the core with a fake driver and a scripted device.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/form1.h"
#include "app/startup.h"
#include "fakes/fake_desktop.h"
#include "fakes/fake_serial_driver.h"
#include "fakes/run_invariants.h"
#include "fakes/scripted_device.h"

namespace reburn3::testing {
namespace {

std::vector<GenRecord> lines(int count, std::uint8_t first) {
    std::vector<GenRecord> records;
    for (int i = 0; i < count; ++i) {
        records.push_back({'T', static_cast<std::uint8_t>(first + i), {}});
        records.push_back({'T', static_cast<std::uint8_t>(first + 2 * i), {}});
        records.push_back({'R', static_cast<std::uint8_t>(0x40 + i), {}});
        records.push_back({'E', 0, {}});
    }
    return records;
}

void write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

class SelectionToStart : public ::testing::Test {
protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() /
              ("reburn3-selection-" +
               std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir);
        path = (dir / "script.pf3").string();
        write(path, renderScript(selected));
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    // Selects the script, lets `change` act on the file, then opens the port, starts the
    // run and plays it against a device that holds `played`.
    void run(const std::function<void()>& change, const std::vector<GenRecord>& played) {
        ScriptedDevice device(driver, played, DeviceFaults{});
        MainStartUp(form, "");
        desktop.answers.push_back(path);
        form.SelectInputFile_Click();
        ASSERT_EQ(form.state().FileMode, 1);
        change();
        form.ComxBtn_Click(1);
        form.Initialize_Click();
        form.ProgramFlash_Click();
        std::uint64_t tick = 0;
        while (form.state().ProgramMode != 0 && tick < 5000) {
            ++tick;
            device.setNow(tick);
            driver.advanceTo(tick);
            if (form.window().timerEnabled()) {
                form.Timer2_Timer();
            }
        }
        ASSERT_EQ(form.state().ProgramMode, 0) << "the run did not end";
    }
    bool debugHas(const std::string& line) const {
        const MessageList& log = form.window().log(LogId::Debug);
        for (std::size_t i = 0; i < log.count(); ++i) {
            if (log.line(i) == line) {
                return true;
            }
        }
        return false;
    }

    std::filesystem::path dir;
    std::string path;
    const std::vector<GenRecord> selected = lines(6, 0x10);
    FakeSerialDriver driver;
    FakeDesktop desktop;
    FixedClock clock;
    Form1 form{driver, desktop, clock};
};

TEST_F(SelectionToStart, DeletedTheRunCannotOpenItAndSendsNothing) {
    run([this] { std::filesystem::remove(path); }, selected);
    EXPECT_EQ(form.engine().outcome(), RunOutcome::ScriptUnreadable);
    EXPECT_TRUE(driver.written().empty());
    EXPECT_TRUE(debugHas("** ERROR ** Cannot open the input file: " + path));
}

TEST_F(SelectionToStart, TruncatedIntoARecordItIsRefusedAndNothingIsSent) {
    run([this] { std::filesystem::resize_file(path, 30); }, selected);
    EXPECT_EQ(form.engine().outcome(), RunOutcome::ScriptRefused);
    EXPECT_TRUE(driver.written().empty());
    EXPECT_EQ(checkRunInvariants(form, driver, selected, false), "");
}

TEST_F(SelectionToStart, EmptiedItIsRefusedAndNothingIsSent) {
    run([this] { std::filesystem::resize_file(path, 0); }, selected);
    EXPECT_EQ(form.engine().outcome(), RunOutcome::ScriptRefused);
    EXPECT_TRUE(driver.written().empty());
}

TEST_F(SelectionToStart, RewrittenWithFaultsItIsRefusedAndNothingIsSent) {
    run([this] { write(path, "T5A:TG1:R91:E\r\n:"); }, selected);
    EXPECT_EQ(form.engine().outcome(), RunOutcome::ScriptRefused);
    EXPECT_TRUE(driver.written().empty());
}

TEST_F(SelectionToStart, RewrittenWithAnotherGoodScriptTheRunPlaysTheNewOne) {
    const std::vector<GenRecord> other = lines(9, 0x80);
    run([this, &other] { write(path, renderScript(other)); }, other);
    EXPECT_EQ(form.engine().outcome(), RunOutcome::Completed);
    EXPECT_EQ(checkRunInvariants(form, driver, other, true), "");
    // The progress counts are those of the new file.
    EXPECT_EQ(form.state().RecordsTotal, static_cast<std::int32_t>(other.size()));
    EXPECT_EQ(form.state().RecordsDone, static_cast<std::int32_t>(other.size()));
}

}  // namespace
}  // namespace reburn3::testing
