// SPDX-License-Identifier: Apache-2.0
#include <filesystem>
#include <fstream>

#include "support/test_fixture.h"

namespace reburn3::testing {
namespace {

class RunControlTest : public CoreTest {};

TEST_F(RunControlTest, WithoutAScriptNothingChanges) {
    MainStartUp(form, "");
    openPort();
    form.ProgramFlash_Click();
    EXPECT_EQ(debug().back(), "** ERROR ** Select an input file.");
    EXPECT_EQ(S.ProgramMode, 0);
    EXPECT_EQ(button(ButtonId::ProgramFlash).caption, "Program FLASH");
    EXPECT_EQ(form.engine().outcome(), RunOutcome::NoScript);
}

TEST_F(RunControlTest, WithoutAPortTheScriptIsCountedButNoRunStarts) {
    MainStartUp(form, "");
    selectScript(writeScript("s.pf3", scriptOf("T01 R02 E")));
    S.RecordsDone = 2;
    form.ProgramFlash_Click();
    EXPECT_EQ(debug().back(), "** ERROR ** Com Port not initialized.");
    EXPECT_EQ(textOf(TextBoxId::Text3), "3");
    EXPECT_EQ(textOf(TextBoxId::Text4), "0");
    EXPECT_EQ(textOf(TextBoxId::Text5), "0.0 %");
    EXPECT_EQ(button(ButtonId::ProgramFlash).caption, "Program FLASH");
    EXPECT_EQ(S.ProgramMode, 0);
}

TEST_F(RunControlTest, StartedRunTakesTheCommandsAway) {
    startWithScript(scriptOf("T01 E"));
    driver.receive({0x33});  // a stale byte the start must flush
    form.ProgramFlash_Click();
    EXPECT_EQ(button(ButtonId::ProgramFlash).caption, "Abort Process");
    EXPECT_FALSE(button(ButtonId::ConfigComPort).enabled);
    EXPECT_FALSE(button(ButtonId::SelectInputFile).enabled);
    EXPECT_TRUE(button(ButtonId::AbortProgram).enabled);
    EXPECT_EQ(debug()[debug().size() - 2], "Starting reBURN of ORX-716 interface.");
    EXPECT_EQ(debug().back(), "Start time:    12:00:00");
    EXPECT_EQ(driver.waiting(), 0U);
    EXPECT_EQ(S.ProgramMode, 101);
}

TEST_F(RunControlTest, AbortBetweenTicksEndsTheRunAtOnce) {
    startWithScript(scriptOf("T01 R02 E"));
    form.ProgramFlash_Click();
    tick();
    form.ProgramFlash_Click();
    EXPECT_EQ(S.ProgramMode, 0);
    EXPECT_EQ(debug().back(), "Stop time:    12:00:00");
    const auto closing = closingLines();
    ASSERT_GE(status().size(), closing.size());
    EXPECT_TRUE(std::equal(closing.begin(), closing.end(), status().end() - 6));
    EXPECT_EQ(button(ButtonId::ProgramFlash).caption, "Program FLASH");
    EXPECT_TRUE(button(ButtonId::ConfigComPort).enabled);
    EXPECT_TRUE(button(ButtonId::SelectInputFile).enabled);
    EXPECT_EQ(form.engine().outcome(), RunOutcome::Aborted);
    const auto written = driver.written().size();
    ticks(100);
    EXPECT_EQ(driver.written().size(), written);
}

TEST_F(RunControlTest, AbortDuringATickIsHonouredAtTheNextTick) {
    startWithScript(scriptOf("T01 R02 E"));
    form.ProgramFlash_Click();
    tick();
    S.IsrActive = kTrue;  // as if the press arrived while a tick was being handled
    form.ProgramFlash_Click();
    EXPECT_EQ(status().back(), "Abort is pending.");
    EXPECT_EQ(S.AbortPending, kTrue);
    EXPECT_EQ(S.ProgramMode, 102);
    S.IsrActive = kFalse;
    tick();
    EXPECT_EQ(S.ProgramMode, 0);
    EXPECT_EQ(S.AbortPending, kFalse);
    EXPECT_EQ(statusCount("Completing or Aborting operations."), 1U);
    EXPECT_EQ(driver.written(), (std::vector<std::uint8_t>{0xE1}));
}

TEST_F(RunControlTest, PressDuringATickWithNoRunDoesNothing) {
    startWithScript(scriptOf("T01 E"));
    S.IsrActive = kTrue;
    const auto lines = status().size();
    form.ProgramFlash_Click();
    EXPECT_EQ(S.ProgramMode, 0);
    EXPECT_EQ(S.AbortPending, kFalse);
    EXPECT_EQ(status().size(), lines);
}

TEST_F(RunControlTest, SecondRunReadsTheScriptFromItsFirstRecord) {
    startWithScript(scriptOf("T01 E T02 E"));
    startRunWithGoodHandshake();
    runToEnd();
    ASSERT_EQ(form.engine().outcome(), RunOutcome::Completed);
    startRunWithGoodHandshake();
    EXPECT_EQ(textOf(TextBoxId::Text3), "4");
    EXPECT_EQ(textOf(TextBoxId::Text4), "0");
    runToEnd();
    EXPECT_EQ(form.engine().outcome(), RunOutcome::Completed);
    EXPECT_EQ(driver.written(), (std::vector<std::uint8_t>{0xE1, 0x94, 1, 2, 0xE1, 0x94, 1, 2}));
}

TEST_F(RunControlTest, CompletedRunEndsWithTheClosingLinesThenComplete) {
    startWithScript(scriptOf("T01 E"));
    startRunWithGoodHandshake();
    runToEnd();
    auto expected = closingLines();
    expected.push_back("Processing complete.  Exit this application.");
    ASSERT_GE(status().size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), status().end() - 7));
}

TEST_F(RunControlTest, ScriptThatCannotBeOpenedStartsNoRun) {
    MainStartUp(form, (dir / "missing.pf3").string());
    openPort();
    form.ProgramFlash_Click();
    EXPECT_EQ(debug().back(),
              "** ERROR ** Cannot open the input file: " + (dir / "missing.PF3").string());
    EXPECT_EQ(S.ProgramMode, 0);
    EXPECT_EQ(form.engine().outcome(), RunOutcome::ScriptUnreadable);
    EXPECT_EQ(driver.count("PutByte"), 0);
}

TEST_F(RunControlTest, NameFromTheCommandLineOpensTheFileWhateverTheExtensionCase) {
    writeScript("image.pf3", scriptOf("T01 E"));
    MainStartUp(form, (dir / "image.pf3").string());
    EXPECT_EQ(S.FileName, (dir / "image.PF3").string());
    openPort();
    startRunWithGoodHandshake();
    runToEnd();
    EXPECT_EQ(form.engine().outcome(), RunOutcome::Completed);
}

TEST_F(RunControlTest, RefusedScriptSendsNothing) {
    startWithScript(scriptOf("T01 t02 E T0g"));
    form.ProgramFlash_Click();
    EXPECT_EQ(S.ProgramMode, 0);
    EXPECT_EQ(form.engine().outcome(), RunOutcome::ScriptRefused);
    ticks(100);
    EXPECT_EQ(driver.count("PutByte"), 0);
    EXPECT_EQ(debug().back(), "** ERROR ** Script refused, nothing was sent: " + S.FileName);
    EXPECT_TRUE(debugHas("Record 2: Invalid packet read from input file.  t02:"));
    EXPECT_TRUE(debugHas("Record 4: Nib0 not valid: 67"));
}

TEST_F(RunControlTest, ScriptMendedAfterARefusalRunsAtTheNextPress) {
    startWithScript(scriptOf("T01 T0x E"));
    EXPECT_EQ(S.FileMode, 1);  // the faulty script stays selected
    EXPECT_EQ(textOf(TextBoxId::Text1), S.FileName);
    std::ofstream(S.FileName, std::ios::binary) << scriptOf("T01 T02 E");
    startRunWithGoodHandshake();
    runToEnd();
    EXPECT_EQ(form.engine().outcome(), RunOutcome::Completed);
}

}  // namespace
}  // namespace reburn3::testing
