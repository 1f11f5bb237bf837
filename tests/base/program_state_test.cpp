// SPDX-License-Identifier: Apache-2.0
#include "support/test_fixture.h"

namespace reburn3::testing {
namespace {

TEST(FixedText, PadsAndCuts) {
    FixedText<2> data;
    EXPECT_EQ(data.str(), "  ");
    data = "A";
    EXPECT_EQ(data.str(), "A ");
    data = "ABC";
    EXPECT_EQ(data.str(), "AB");
}

TEST(PortInfoRecord, LittleEndianFields) {
    PortInfoRecord r;
    r.putInt32(8, 11);
    r.putInt16(12, -2);
    EXPECT_EQ(r.bytes[8], 11);
    EXPECT_EQ(r.bytes[9], 0);
    EXPECT_EQ(r.bytes[12], 0xFE);
    EXPECT_EQ(r.bytes[13], 0xFF);
    EXPECT_EQ(r.int16At(12), -2);
    EXPECT_EQ(sizeof(r.bytes), 192U);
}

class ProgramStateTest : public CoreTest {};

TEST_F(ProgramStateTest, StartUpValues) {
    MainStartUp(form, "");
    EXPECT_EQ(S.ComPort, 6);
    EXPECT_EQ(desktop.selectedOption, 6);
    EXPECT_EQ(S.RxByte, -1);
    EXPECT_EQ(S.TimeoutCount, 54);
    EXPECT_EQ(S.TimeoutReload, 54);
    EXPECT_EQ(S.ProgramMode, 0);
    EXPECT_EQ(S.PortIndex, 3);
    EXPECT_EQ(S.RecType.str(), " ");
    EXPECT_EQ(S.RecData.str(), "  ");
    EXPECT_TRUE(status().empty());
    EXPECT_TRUE(debug().empty());
    for (auto box : {TextBoxId::Text2, TextBoxId::Text3, TextBoxId::Text4, TextBoxId::Text5}) {
        EXPECT_EQ(textOf(box), "");
    }
}

TEST_F(ProgramStateTest, ResetLeavesPortInfoAndTheTimesAlone) {
    S.PortInfo.putInt32(0, 42);
    S.TimeNow = "01:02:03";
    S.TimeLast = "01:02:03";
    S.ComPort = 2;
    S.LastByte1 = 0x26;
    form.PostMsg1("x");
    form.window().setText(TextBoxId::Text4, "9");
    form.InitVariables();
    EXPECT_EQ(S.PortInfo.int32At(0), 42);
    EXPECT_EQ(S.TimeNow, "01:02:03");
    EXPECT_EQ(S.TimeLast, "01:02:03");
    EXPECT_EQ(S.ComPort, 6);
    EXPECT_EQ(S.LastByte1, 0);
    EXPECT_TRUE(status().empty());
    EXPECT_EQ(textOf(TextBoxId::Text4), "");
}

TEST_F(ProgramStateTest, PercentDoneIsAFraction) {
    startWithScript(scriptOf("T01 E"));
    startRunWithGoodHandshake();
    ticks(57);  // the reader has read the first record of two
    EXPECT_FLOAT_EQ(S.PercentDone, 0.5F);
    EXPECT_EQ(textOf(TextBoxId::Text5), "50.0 %");
}

}  // namespace
}  // namespace reburn3::testing
