// SPDX-License-Identifier: Apache-2.0
#include "support/test_fixture.h"

namespace reburn3::testing {
namespace {

class SelectInputFileTest : public CoreTest {
protected:
    void SetUp() override { MainStartUp(form, ""); }
};

TEST_F(SelectInputFileTest, DialogIsSetUpForScripts) {
    desktop.answers.push_back(std::nullopt);
    form.SelectInputFile_Click();
    const auto& d = desktop.lastDialog;
    EXPECT_TRUE(d.cancelIsError);
    EXPECT_EQ(d.initialName, "*.pf3");
    EXPECT_EQ(d.filterName, "PF3 Files (*.pf3)");
    EXPECT_EQ(d.filterPattern, "*.pf3");
    EXPECT_EQ(d.defaultExt, "pf3");
    EXPECT_EQ(d.flags, 4);
    EXPECT_EQ(d.filterIndex, 1);
    EXPECT_EQ(d.initialDir, "/work/dir");
}

TEST_F(SelectInputFileTest, ChosenScriptIsOpenedAndMeasured) {
    const std::string path = writeScript("a.pf3", scriptOf("T01 R02 E"));
    selectScript(path);
    EXPECT_EQ(S.FileName, path);
    EXPECT_EQ(S.FileMode, 1);
    EXPECT_EQ(textOf(TextBoxId::Text1), path);
    EXPECT_EQ(textOf(TextBoxId::Text3), "3");
    EXPECT_TRUE(status().empty());
    EXPECT_TRUE(form.script().isOpen());
}

TEST_F(SelectInputFileTest, CancelLeavesNoScriptSelected) {
    selectScript(writeScript("a.pf3", scriptOf("T01 E")));
    desktop.answers.push_back(std::nullopt);
    form.SelectInputFile_Click();
    EXPECT_EQ(status().back(), "Input file selection cancelled.");
    EXPECT_EQ(S.FileMode, 0);
    EXPECT_EQ(S.FileName, "");
    EXPECT_EQ(textOf(TextBoxId::Text1), "");
    EXPECT_FALSE(form.script().isOpen());
}

TEST_F(SelectInputFileTest, EmptyPathMeansNothingChosen) {
    desktop.answers.push_back(std::string());
    form.SelectInputFile_Click();
    EXPECT_EQ(status().back(), "No input file selected.");
    EXPECT_EQ(S.FileMode, 0);
}

TEST_F(SelectInputFileTest, FileThatCannotBeOpenedCountsAsCancelled) {
    selectScript((dir / "gone.pf3").string());
    EXPECT_EQ(status().back(), "Input file selection cancelled.");
    EXPECT_EQ(S.FileMode, 0);
    EXPECT_EQ(textOf(TextBoxId::Text1), "");
}

TEST_F(SelectInputFileTest, SecondScriptReplacesTheFirstSilently) {
    selectScript(writeScript("a.pf3", scriptOf("T01 E")));
    selectScript(writeScript("b.pf3", scriptOf("T01 T02 E")));
    EXPECT_TRUE(status().empty());
    EXPECT_EQ(textOf(TextBoxId::Text3), "3");
}

class ExitTest : public CoreTest {};

TEST_F(ExitTest, WithNothingOpenOnlyTerminates) {
    MainStartUp(form, "");
    form.AbortProgram_Click();
    EXPECT_EQ(status(), (std::deque<std::string>{"Program terminated."}));
    EXPECT_TRUE(desktop.ended);
}

TEST_F(ExitTest, ClosesTheScriptAndThePortFirst) {
    startWithScript(scriptOf("T01 E"));
    form.ClearStatus_Click();
    form.AbortProgram_Click();
    EXPECT_EQ(status(), (std::deque<std::string>{"Input file closed.", "Closed COM port: 6",
                                                 "Program terminated."}));
    EXPECT_FALSE(form.window().timerEnabled());
    EXPECT_FALSE(form.script().isOpen());
    EXPECT_EQ(S.PortOpen, kFalse);
    EXPECT_TRUE(desktop.ended);
}

TEST_F(ExitTest, DuringARunEndsWithoutTheClosingLines) {
    startWithScript(scriptOf("T01 R01 E"));
    form.ProgramFlash_Click();
    tick();
    form.AbortProgram_Click();
    EXPECT_TRUE(desktop.ended);
    EXPECT_EQ(S.ProgramMode, 0);
    EXPECT_EQ(statusCount("Completing or Aborting operations."), 0U);
}

TEST_F(ExitTest, NameFromTheCommandLineIsClosedEvenIfNeverOpened) {
    MainStartUp(form, "image.pf3");
    form.AbortProgram_Click();
    EXPECT_EQ(status(), (std::deque<std::string>{"Input file closed.", "Program terminated."}));
}

TEST_F(ExitTest, RefusedWhileATickOrATransmissionIsInProgress) {
    startWithScript(scriptOf("T01 E"));
    form.ProgramFlash_Click();
    S.IsrActive = kTrue;
    form.AbortProgram_Click();
    EXPECT_EQ(status().back(), "ISR active.  Try to exit again.");
    EXPECT_FALSE(form.window().timerEnabled());
    EXPECT_FALSE(desktop.ended);
    S.IsrActive = kFalse;
    S.PortBusy = kTrue;
    form.AbortProgram_Click();
    EXPECT_EQ(status().back(), "COM port in-use.  Try to exit again.");
    EXPECT_FALSE(desktop.ended);
    S.PortBusy = kFalse;
    form.AbortProgram_Click();
    EXPECT_TRUE(desktop.ended);
}

class PortDialogTest : public CoreTest {
protected:
    void SetUp() override { MainStartUp(form, ""); }
};

TEST_F(PortDialogTest, ConfigureClosesAnOpenPortBeforeShowingTheDialog) {
    openPort();
    EXPECT_FALSE(desktop.portDialogVisible);
    form.ConfigComPort_Click();
    EXPECT_EQ(status().back(), "Closed COM port: 6");
    EXPECT_EQ(textOf(TextBoxId::Text2), "");
    EXPECT_FALSE(form.window().timerEnabled());
    EXPECT_TRUE(desktop.portDialogVisible);
    form.Cancel1_Click();
    EXPECT_EQ(S.PortOpen, kFalse);
    EXPECT_FALSE(desktop.portDialogVisible);
}

TEST_F(PortDialogTest, ConfigureDuringATickIsRefusedAndStopsTheTimer) {
    openPort();
    S.IsrActive = kTrue;
    form.ConfigComPort_Click();
    EXPECT_EQ(status().back(), "Com setup attempt failed, timer stopped. --> Try again !");
    EXPECT_FALSE(desktop.portDialogVisible);
    EXPECT_FALSE(form.window().timerEnabled());
    EXPECT_EQ(S.PortOpen, kTrue);
    form.ConfigComPort_Click();  // the flag is still set: refused again
    S.IsrActive = kFalse;
    form.ConfigComPort_Click();
    EXPECT_TRUE(desktop.portDialogVisible);
    EXPECT_EQ(S.PortOpen, kFalse);
}

TEST_F(PortDialogTest, OptionClickThenCancelKeepsTheChoiceButOpensNothing) {
    selectScript(writeScript("a.pf3", scriptOf("T01 E")));
    form.ConfigComPort_Click();
    form.ComxBtn_Click(3);
    form.Cancel1_Click();
    EXPECT_EQ(S.ComPort, 3);
    EXPECT_EQ(S.PortOpen, kFalse);
    EXPECT_EQ(textOf(TextBoxId::Text2), "");
    EXPECT_EQ(status().back(), "Comms selection cancelled.");
    form.ProgramFlash_Click();
    EXPECT_EQ(debug().back(), "** ERROR ** Com Port not initialized.");
}

TEST_F(PortDialogTest, InitializeHidesTheDialogWhateverTheOutcome) {
    form.ConfigComPort_Click();
    driver.failWith("InitializePort", 3);
    form.Initialize_Click();
    EXPECT_FALSE(desktop.portDialogVisible);
    EXPECT_EQ(textOf(TextBoxId::Text2), "");
    EXPECT_EQ(debug().back(), "Error initializing COM port: 3");
}

TEST_F(PortDialogTest, InitializeWithoutAClickOpensThePortHeld) {
    form.ConfigComPort_Click();
    form.Initialize_Click();
    EXPECT_EQ(textOf(TextBoxId::Text2), "COM6: at max rate");
    EXPECT_EQ(driver.calls().front().args.front(), 6);
}

}  // namespace
}  // namespace reburn3::testing
