// SPDX-License-Identifier: Apache-2.0
#include "support/test_fixture.h"

namespace reburn3::testing {
namespace {

TEST(DeriveScriptName, TakesEverythingUpToTheFileNamesFirstDot) {
    const std::vector<std::pair<std::string, std::string>> table = {
        {"", ""},
        {"flashfile", ""},
        {"image.pf3", "image.PF3"},
        {"image.hex", "image.PF3"},
        {"image.", "image.PF3"},
        // The extension is the file name's, never a folder's: "fw-2.1/tiny.pf3" once
        // named "fw-2.PF3", which the desktop entry's "Open with" could not open.
        {"C:\\rel2.5\\image.pf3", "C:\\rel2.5\\image.PF3"},
        {"fw-2.1/tiny.pf3", "fw-2.1/tiny.PF3"},
        {"/home/op/rel 2.5/fw v1.pf3", "/home/op/rel 2.5/fw v1.PF3"},
        {".\\image.pf3", ".\\image.PF3"},
        {"../image.pf3", "../image.PF3"},
        {"fw-2.1/image", ""},
        {"one.pf3 two.pf3", "one.PF3"},
        {"my file.pf3", "my file.PF3"},
        {"\"my file.pf3\"", "\"my file.PF3"},
    };
    for (const auto& [commandLine, name] : table) {
        EXPECT_EQ(DeriveScriptName(commandLine), name) << commandLine;
    }
}

class StartUpTest : public CoreTest {};

TEST_F(StartUpTest, WithoutANameTheWindowSaysSo) {
    MainStartUp(form, "");
    EXPECT_EQ(S.FileMode, 0);
    EXPECT_EQ(textOf(TextBoxId::Text1), "No File Selected.");
    EXPECT_FALSE(form.window().timerEnabled());
    EXPECT_EQ(form.window().timerInterval(), 5);
    EXPECT_EQ(desktop.mainWindowShown, 1);
    EXPECT_EQ(button(ButtonId::ProgramFlash).caption, "Program FLASH");
    for (auto id : {ButtonId::SelectInputFile, ButtonId::ConfigComPort, ButtonId::ProgramFlash,
                    ButtonId::AbortProgram, ButtonId::ClearStatus, ButtonId::ClearDebug}) {
        EXPECT_TRUE(button(id).enabled);
    }
    EXPECT_TRUE(status().empty());
    EXPECT_TRUE(debug().empty());
}

TEST_F(StartUpTest, NameIsRecordedWhetherOrNotTheFileExists) {
    MainStartUp(form, "my file.pf3");
    EXPECT_EQ(S.CommandLine, "my file.pf3");
    EXPECT_EQ(S.FileName, "my file.PF3");
    EXPECT_EQ(S.FileMode, 1);
    EXPECT_EQ(textOf(TextBoxId::Text1), "my file.PF3");
    EXPECT_FALSE(form.script().isOpen());
    EXPECT_TRUE(status().empty());
}

}  // namespace
}  // namespace reburn3::testing
