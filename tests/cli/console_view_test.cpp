// SPDX-License-Identifier: Apache-2.0
// The terminal's view of a run: progress texts, the console view's lines, bar and JSON.

#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "base/program_state.h"
#include "cli/console_view.h"

namespace reburn3::cli {
namespace {

TEST(ProgressText, FitsTheTerminalWithoutWrapping) {
    // Fields are dropped, never wrapped: the line always leaves the last column free.
    for (int columns : {200, 80, 60, 40, 30, 20, 12, 5, 1}) {
        SCOPED_TRACE(columns);
        const std::string line = fitProgressBar(123456, 999999, 3'725'000, 9'000'000, columns);
        EXPECT_LE(line.size(), static_cast<std::size_t>(std::max(columns - 1, 1)));
        EXPECT_FALSE(line.empty());
    }
    EXPECT_EQ(fitProgressBar(100, 400, 3000, 9000, 200),
              "[#######.......................]  100/400 records  25.0 %  0:03 elapsed  0:09 left");
    EXPECT_EQ(fitProgressBar(100, 400, 3000, 9000, 40), "[###.........]  100/400 records  25.0 %");
    EXPECT_EQ(fitProgressBar(100, 400, 3000, 9000, 25), "100/400  25.0 %");
}

TEST(ProgressText, ShowsCountsPercentAndTimes) {
    EXPECT_EQ(formatDuration(0), "0:00");
    EXPECT_EQ(formatDuration(61'999), "1:01");
    EXPECT_EQ(formatDuration(3'725'000), "1:02:05");
    EXPECT_EQ(formatProgressBar(0, 400, 0, std::nullopt, 10),
              "[..........]  0/400 records  0.0 %  0:00 elapsed");
    EXPECT_EQ(formatProgressBar(100, 400, 3000, 9000, 10),
              "[##........]  100/400 records  25.0 %  0:03 elapsed  0:09 left");
    EXPECT_EQ(formatProgressBar(400, 400, 12000, 0, 4),
              "[####]  400/400 records  100.0 %  0:12 elapsed  0:00 left");
    EXPECT_EQ(formatProgressPlain(1, 3, 2000, std::nullopt),
              "Progress: 1/3 records (33.3 %), 0:02 elapsed");
    EXPECT_EQ(formatProgressPlain(2, 4, 2000, 2000),
              "Progress: 2/4 records (50.0 %), 0:02 elapsed, about 0:02 left");
    // A total of 0 shows no fraction rather than dividing by it.
    EXPECT_EQ(formatProgressBar(0, 0, 0, std::nullopt, 2),
              "[..]  0/0 records  0.0 %  0:00 elapsed");
}

TEST(ProgressText, EstimatesFromThePaceAfterTheFirstRecord) {
    // The handshake took 300 ms before the first record: it does not count.
    EXPECT_EQ(estimateLeftMs(1, 101, 1, 300, 300), std::nullopt);
    EXPECT_EQ(estimateLeftMs(51, 101, 1, 300, 1300), 1000);
    EXPECT_EQ(estimateLeftMs(101, 101, 1, 300, 2300), 0);
    EXPECT_EQ(estimateLeftMs(0, 10, 0, -1, 500), std::nullopt);
}

// Output of the console view, captured in temporary files.
class ConsoleViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        out = std::tmpfile();
        err = std::tmpfile();
        ASSERT_NE(out, nullptr);
        ASSERT_NE(err, nullptr);
    }
    void TearDown() override {
        std::fclose(out);
        std::fclose(err);
    }
    static std::string contents(std::FILE* f) {
        std::fflush(f);
        std::rewind(f);
        std::string s;
        char buf[4096];
        std::size_t n = 0;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
            s.append(buf, n);
        }
        return s;
    }

    ProgramState state;
    std::FILE* out = nullptr;
    std::FILE* err = nullptr;
};

TEST_F(ConsoleViewTest, StatusLinesGoToStdoutAndDebugLinesToStderrExactly) {
    ConsoleView view(state, false, ProgressMode::None, out, err);
    view.lineAppended(LogId::Status, "Program Mode = 101", 0);
    view.lineAppended(LogId::Debug, "Error. Read time out.", 0);
    view.lineAppended(LogId::Status, "   ", 0);
    EXPECT_EQ(contents(out), "Program Mode = 101\n   \n");
    EXPECT_EQ(contents(err), "Error. Read time out.\n");
}

TEST_F(ConsoleViewTest, JsonModeWritesOneObjectPerLineOnStdout) {
    ConsoleView view(state, true, ProgressMode::None, out, err);
    view.lineAppended(LogId::Status, "Processing ...   4", 0);
    view.lineAppended(LogId::Debug, "Stop time:    \"12:00:00\"", 0);
    EXPECT_EQ(contents(err), "");
    const std::string text = contents(out);
    const QList<QByteArray> lines = QByteArray::fromStdString(text).split('\n');
    ASSERT_EQ(lines.size(), 3);  // two lines and the empty rest after the last newline
    const QJsonObject first = QJsonDocument::fromJson(lines[0]).object();
    const QJsonObject second = QJsonDocument::fromJson(lines[1]).object();
    EXPECT_EQ(first.value("log").toString(), "status");
    EXPECT_EQ(first.value("text").toString(), "Processing ...   4");
    EXPECT_EQ(second.value("log").toString(), "debug");
    EXPECT_EQ(second.value("text").toString(), "Stop time:    \"12:00:00\"");
}

TEST_F(ConsoleViewTest, TheBarIsErasedBeforeALineAndEndsWithANewline) {
    ConsoleView view(state, false, ProgressMode::Bar, out, err);
    state.RecordsTotal = 4;
    view.runStarted();
    state.RecordsDone = 2;
    view.textChanged(TextBoxId::Text4);
    view.lineAppended(LogId::Debug, "a debug line", 0);
    state.RecordsDone = 4;
    view.runEnded();
    const std::string e = contents(err);
    // The line stands on a line of its own: the bar before it was wiped.
    EXPECT_NE(e.find("\r\033[Ka debug line\n"), std::string::npos) << e;
    EXPECT_NE(e.find("4/4 records  100.0 %"), std::string::npos) << e;
    EXPECT_EQ(e.back(), '\n');
    EXPECT_EQ(contents(out), "");
}

TEST_F(ConsoleViewTest, PlainProgressPrintsEveryTenthOnce) {
    ConsoleView view(state, false, ProgressMode::Plain, out, err);
    state.RecordsTotal = 100;
    view.runStarted();
    for (int i = 1; i <= 100; ++i) {
        state.RecordsDone = i;
        view.textChanged(TextBoxId::Text4);
    }
    view.runEnded();
    const std::string e = contents(err);
    std::size_t lines = 0;
    for (char c : e) {
        lines += c == '\n';
    }
    EXPECT_EQ(lines, 11U) << e;  // the first record, then each tenth up to 100 %
    EXPECT_NE(e.find("Progress: 100/100 records (100.0 %)"), std::string::npos);
}

// During an engine step nothing reaches the terminal; afterwards every line comes out in
// the order posted, and a notice, the end of the run or the view's end write the held
// lines first.
TEST_F(ConsoleViewTest, HeldLinesComeOutInOrderAfterTheStepAndBeforeAnythingElse) {
    {
        ConsoleView view(state, false, ProgressMode::Plain, out, err);
        state.RecordsTotal = 10;
        view.runStarted();
        view.hold();
        view.lineAppended(LogId::Status, "Processing ...   1", 0);
        state.RecordsDone = 10;
        view.textChanged(TextBoxId::Text4);
        view.lineAppended(LogId::Debug, "a debug line", 0);
        EXPECT_EQ(contents(out), "");
        EXPECT_EQ(contents(err), "");
        view.release();
        EXPECT_EQ(contents(out), "Processing ...   1\n");
        // The progress shows the count as the step left it.
        EXPECT_NE(contents(err).find("a debug line\n"), std::string::npos);
        EXPECT_NE(contents(err).find("Progress: 10/10 records"), std::string::npos);

        view.hold();
        view.lineAppended(LogId::Debug, "before the notice", 0);
        view.printNotice("the device went away");
        view.lineAppended(LogId::Debug, "held again", 0);
        view.runEnded();  // ends the hold
        view.lineAppended(LogId::Debug, "after the end", 0);
        view.hold();
        view.lineAppended(LogId::Status, "left held at the end", 0);
    }
    EXPECT_EQ(contents(out), "Processing ...   1\nleft held at the end\n");
    const std::string e = contents(err);
    const auto at = [&e](const char* text) { return e.find(text); };
    EXPECT_LT(at("before the notice"), at("reburn3: the device went away"));
    EXPECT_LT(at("reburn3: the device went away"), at("held again"));
    EXPECT_LT(at("held again"), at("after the end"));
    EXPECT_NE(at("after the end"), std::string::npos) << e;
}

// A port's lines in a gang: prefixed, and every JSON line names the port.
TEST_F(ConsoleViewTest, APortsLinesCarryItsName) {
    ConsoleView plain(state, false, ProgressMode::None, out, err);
    plain.setPort("COM3", "[COM3] ");
    plain.lineAppended(LogId::Status, "Processing ...   120", 0);
    plain.printNotice("attempt 2");
    ConsoleView json(state, true, ProgressMode::None, out, err);
    json.setPort("COM3", "[COM3] ");
    json.lineAppended(LogId::Status, "Closed COM port: 3", 0);
    const std::string o = contents(out);
    EXPECT_NE(o.find("[COM3] Processing ...   120\n"), std::string::npos) << o;
    EXPECT_NE(o.find("\"port\":\"COM3\""), std::string::npos) << o;
    EXPECT_NE(contents(err).find("[COM3] reburn3: attempt 2\n"), std::string::npos);
}

}  // namespace
}  // namespace reburn3::cli
