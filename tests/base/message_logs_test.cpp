// SPDX-License-Identifier: Apache-2.0
#include "support/test_fixture.h"

namespace reburn3::testing {
namespace {

// Counts what a view is told, to check that every post reaches it at once.
struct CountingView : WindowListener {
    void lineAppended(LogId, const std::string&, std::size_t d) override {
        ++appended;
        dropped += d;
    }
    void logCleared(LogId) override { ++cleared; }
    int appended = 0;
    std::size_t dropped = 0;
    int cleared = 0;
};

// "s17" for ('s', 17). Built by appending rather than as "s" + std::to_string(i): GCC 12
// at -O3 inlines that operator+ into a memmove it then wrongly reports under -Wrestrict (GCC
// bug 105329), which -Werror would turn into a failed build.
std::string numbered(char prefix, int i) {
    std::string line(1, prefix);
    line += std::to_string(i);
    return line;
}

class MessageLogsTest : public CoreTest {};

TEST_F(MessageLogsTest, LogsKeepTheirNewestLinesUpToTheirLimits) {
    CountingView view;
    form.window().addListener(&view);
    for (int i = 1; i <= 1000; ++i) {
        form.PostMsg1(numbered('s', i));
    }
    EXPECT_EQ(status().size(), 1000U);
    form.PostMsg1("newest");
    EXPECT_EQ(status().size(), 1000U);
    EXPECT_EQ(status().front(), "s2");
    EXPECT_EQ(status().back(), "newest");
    for (int i = 1; i <= 301; ++i) {
        form.PostMsg2(numbered('d', i));
    }
    EXPECT_EQ(debug().size(), 300U);
    EXPECT_EQ(debug().front(), "d2");
    EXPECT_EQ(view.appended, 1302);
    EXPECT_EQ(view.dropped, 2U);
    form.window().removeListener(&view);
}

TEST_F(MessageLogsTest, LinesAreTheTextsAsPosted) {
    form.PostMsg1("   ");
    form.PostMsg1("");
    form.PostMsg1("same");
    form.PostMsg1("same");
    EXPECT_EQ(status(), (std::deque<std::string>{"   ", "", "same", "same"}));
}

TEST_F(MessageLogsTest, ClearingOneLogLeavesTheOther) {
    form.ClearStatus_Click();  // empty: nothing happens
    form.PostMsg1("a");
    form.PostMsg2("b");
    S.Msg = "kept";
    form.ClearStatus_Click();
    EXPECT_TRUE(status().empty());
    EXPECT_EQ(debug().size(), 1U);
    EXPECT_EQ(S.Msg, "kept");
    form.PostMsg1("first");
    EXPECT_EQ(status(), (std::deque<std::string>{"first"}));
    form.ClearDebug_Click();
    EXPECT_TRUE(debug().empty());
}

TEST_F(MessageLogsTest, PostsGoThroughTheMessageBuffer) {
    MainStartUp(form, "");
    form.ComxBtn_Click(0);
    form.InitComPort();
    EXPECT_EQ(S.Msg, "COM Port selection is invalid.");
}

}  // namespace
}  // namespace reburn3::testing
