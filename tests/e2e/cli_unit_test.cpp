// SPDX-License-Identifier: Apache-2.0
// The command line's own pieces: exit codes, progress texts, the recording driver and the
// console view.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "app/form1.h"
#include "base/program_state.h"
#include "cli/console_view.h"
#include "cli/gang_progress.h"
#include "cli/run_report.h"
#include "fakes/fake_desktop.h"
#include "fakes/fake_serial_driver.h"
#include "run/exit_codes.h"
#include "run/port_gang.h"
#include "run/precise_tick_timer.h"
#include "run/recording_driver.h"
#include "run/run_stats.h"
#include "run/verdict.h"

namespace reburn3::cli {
namespace {

RunResult resultOf(RunOutcome outcome, RunReason reason, bool partly = false, bool lost = false) {
    RunResult r;
    r.outcome = outcome;
    r.reason = reason;
    r.partlyProgrammed = partly;
    r.deviceLost = lost;
    return r;
}

struct ExitCase {
    RunResult result;
    int code;
    const char* name;
};

// The exit code and the result word follow the reason; a lost device decides over any
// failure; exit 3 only while no byte of the script went out.
TEST(ExitCodes, FollowTheReasonWithALostDeviceFirst) {
    const std::vector<ExitCase> cases = {
        {resultOf(RunOutcome::Completed, RunReason::Completed), 0, "completed"},
        {resultOf(RunOutcome::Completed, RunReason::Completed, true, true), 0, "completed"},
        {resultOf(RunOutcome::DeviceFailed, RunReason::NoReply), 1, "device-failed"},
        {resultOf(RunOutcome::DeviceFailed, RunReason::Echo), 1, "device-failed"},
        {resultOf(RunOutcome::DeviceFailed, RunReason::WrongByte, true), 1, "device-failed"},
        {resultOf(RunOutcome::DeviceFailed, RunReason::ReadTimeout, true, true), 4, "device-lost"},
        {resultOf(RunOutcome::DeviceLost, RunReason::DeviceLost, true, true), 4, "device-lost"},
        {resultOf(RunOutcome::LinkFailed, RunReason::WriteFailed, true), 4, "link-failed"},
        {resultOf(RunOutcome::LinkFailed, RunReason::DrainTimeout, true), 4, "link-failed"},
        {resultOf(RunOutcome::InternalError, RunReason::InternalError), 1, "internal-error"},
        {resultOf(RunOutcome::ScriptFailed, RunReason::ScriptChanged, false), 3, "script-failed"},
        {resultOf(RunOutcome::ScriptFailed, RunReason::ScriptChanged, true), 1, "script-failed"},
        {resultOf(RunOutcome::None, RunReason::ScriptUnreadable), 3, "script-unreadable"},
        {resultOf(RunOutcome::ScriptRefused, RunReason::ScriptRefused), 3, "script-refused"},
        {resultOf(RunOutcome::None, RunReason::ScriptMismatch), 3, "script-refused"},
        {resultOf(RunOutcome::None, RunReason::PortOpenFailed), 4, "port-failed"},
        {resultOf(RunOutcome::None, RunReason::OutputUnwritable), 2, "usage-error"},
        {resultOf(RunOutcome::None, RunReason::Usage), 2, "usage-error"},
        // An interruption is named one way before and during a run.
        {resultOf(RunOutcome::None, RunReason::Interrupted), 130, "interrupted"},
        {resultOf(RunOutcome::Aborted, RunReason::Interrupted, true), 130, "interrupted"},
    };
    for (const ExitCase& c : cases) {
        SCOPED_TRACE(std::string(reasonName(c.result.reason)));
        EXPECT_EQ(exitCodeFor(c.result), c.code);
        EXPECT_EQ(resultName(c.result), c.name);
    }
    // Nothing but a completed run ever gives 0.
    EXPECT_NE(exitCodeFor(resultOf(RunOutcome::None, RunReason::None)), 0);
}

struct VerdictCase {
    RunResult result;
    const char* line;
};

RunResult at(RunResult r, std::uint64_t record, std::uint64_t line, const char* expected,
             const char* received) {
    r.failedRecord = record;
    r.scriptLine = line;
    r.expected = expected;
    r.received = received;
    return r;
}

TEST(Verdict, SaysWhatHappenedWhereTheDeviceStandsAndWhatToDo) {
    RunResult done = resultOf(RunOutcome::Completed, RunReason::Completed, true);
    done.records = 12347;
    done.scriptLines = 300;
    done.durationMs = 3290;
    RunResult wrong =
        at(resultOf(RunOutcome::DeviceFailed, RunReason::WrongByte, true), 2204, 50, "39", "C6");
    wrong.scriptLines = 300;
    RunResult interrupted = resultOf(RunOutcome::Aborted, RunReason::Interrupted, true);
    interrupted.recordsDone = 120;
    interrupted.records = 400;
    RunResult lost = resultOf(RunOutcome::DeviceFailed, RunReason::DeviceLost, true, true);
    lost.device = "/dev/ttyUSB0";
    RunResult hostile = resultOf(RunOutcome::None, RunReason::ScriptUnreadable);
    hostile.script = "/tmp/\x1b[2Jx.pf3";
    hostile.detail = "Permission denied";
    const std::vector<VerdictCase> cases = {
        {done, "reburn3: DONE: 12347 records, 300 lines in 3.3 s."},
        {wrong,
         "reburn3: FAILED (exit 1) at script line 50 of 300 (record 2204): expected 39, the device "
         "answered C6; the device is partly programmed: cycle its power before trying again."},
        {resultOf(RunOutcome::DeviceFailed, RunReason::NoReply),
         "reburn3: FAILED (exit 1): no answer to the handshake within 270 ms; the device was not "
         "touched. Check power, cable, BURN3 mode and the port."},
        {at(resultOf(RunOutcome::DeviceFailed, RunReason::Echo), 0, 0, "91 26", "E1 94"),
         "reburn3: FAILED (exit 1): the handshake came back as it was sent (E1 94): the port may "
         "be a loopback or the wrong device; the device was not touched. Check that the port "
         "leads to the ORX-716."},
        {interrupted,
         "reburn3: INTERRUPTED (exit 130) at record 120 of 400; the device is partly programmed: "
         "cycle its power before trying again."},
        {resultOf(RunOutcome::None, RunReason::Interrupted),
         "reburn3: INTERRUPTED (exit 130) before the download started; the device was not "
         "touched."},
        {lost,
         "reburn3: FAILED (exit 4): the device /dev/ttyUSB0 went away (unplugged or closed); "
         "\"Error: 31\" above means the same; the device is partly programmed: cycle its power "
         "before trying again. Reconnect the device, then download again."},
        // A file name never brings a control character to the terminal.
        {hostile,
         "reburn3: FAILED (exit 3): cannot read the script /tmp/<1B>[2Jx.pf3: Permission denied; "
         "the device was not touched. Fix the script, then try again."},
    };
    for (VerdictCase c : cases) {
        c.result.exitCode = exitCodeFor(c.result);
        EXPECT_EQ(verdictLine(c.result), c.line);
    }
}

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

TEST(RecordingDriver, NotesEveryByteWithItsTickAndPassesEverythingOn) {
    testing::FakeSerialDriver inner;
    RecordingDriver driver(inner);
    std::uint64_t tick = 7;
    driver.setTickSource([&] { return tick; });

    EXPECT_EQ(driver.PutByte(1, 0xE1), 0);
    tick = 8;
    EXPECT_EQ(driver.PutByte(1, 0x94), 0);
    inner.receive({0x91, 0x26});
    tick = 9;
    EXPECT_EQ(driver.IsReceiveBufferEmpty(1), 0);
    EXPECT_EQ(driver.GetByte(1), 0x91);
    EXPECT_EQ(driver.GetByte(1), 0x26);
    // A refused byte did not cross the line.
    inner.failWith("PutByte", 30);
    EXPECT_EQ(driver.PutByte(1, 0x55), 30);

    EXPECT_EQ(inner.written(), (std::vector<std::uint8_t>{0xE1, 0x94}));
    EXPECT_EQ(driver.sentCount(), 2U);
    EXPECT_EQ(driver.receivedCount(), 2U);
    EXPECT_EQ(driver.traceText(),
              "# tick direction byte (TX: to the device, RX: from it; ticks of 5 ms)\n"
              "7 TX E1\n8 TX 94\n9 RX 91\n9 RX 26\n");
    EXPECT_FALSE(driver.writeTrace("/nonexistent-dir/trace.txt"));
}

// Without a trace to write, a download of any length must not keep its bytes.
TEST(RecordingDriver, OnlyCountsWhenTheBytesAreNotKept) {
    testing::FakeSerialDriver inner;
    RecordingDriver driver(inner);
    driver.setKeepBytes(false);
    EXPECT_EQ(driver.PutByte(1, 0xE1), 0);
    inner.receive({0x91});
    EXPECT_EQ(driver.GetByte(1), 0x91);
    EXPECT_EQ(driver.GetByte(1), -1);
    EXPECT_EQ(driver.sentCount(), 1U);
    EXPECT_EQ(driver.receivedCount(), 1U);
    EXPECT_TRUE(driver.bytes().empty());
}

TEST(TickPeriods, QuantilesComeFromTheBinsAndTheMaximumIsExact) {
    using namespace std::chrono;
    TickPeriods periods;
    TickPeriods::Clock::time_point t{};
    periods.arrived(t);  // the first arrival only starts the measure
    for (int i = 0; i < 98; ++i) {
        t += microseconds(5000);
        periods.arrived(t);
    }
    t += microseconds(9000);
    periods.arrived(t);
    t += milliseconds(80);  // beyond the last bin
    periods.arrived(t);
    EXPECT_EQ(periods.count(), 100U);
    EXPECT_DOUBLE_EQ(periods.quantileMs(0.5), 5.005);
    EXPECT_DOUBLE_EQ(periods.quantileMs(0.99), 9.005);
    EXPECT_DOUBLE_EQ(periods.quantileMs(1.0), 80.0);
    EXPECT_DOUBLE_EQ(periods.maxMs(), 80.0);
    EXPECT_NEAR(periods.meanMs(), (98 * 5.0 + 9.0 + 80.0) / 100, 1e-9);
    EXPECT_EQ(TickPeriods().quantileMs(0.5), 0.0);
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

// Several ports end in one code: 0 only when all completed, else the gravest.
struct GangCase {
    std::vector<int> codes;
    int expected;
};
class GangExitCode : public ::testing::TestWithParam<GangCase> {};
TEST_P(GangExitCode, TheGravestDecides) {
    EXPECT_EQ(gangExitCode(GetParam().codes), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(Orders, GangExitCode,
                         ::testing::Values(GangCase{{}, 0}, GangCase{{0, 0, 0}, 0},
                                           GangCase{{0, 1, 0}, 1}, GangCase{{1, 4, 0}, 4},
                                           GangCase{{4, 130, 1}, 130}, GangCase{{3, 1}, 3},
                                           GangCase{{1, 3, 4}, 4}, GangCase{{0, 7}, 7}));

TEST(GangOutput, RowsFitTheTerminalAndTheTableNamesEveryRun) {
    for (const int columns : {20, 40, 80, 200}) {
        const std::string row =
            GangProgress::formatRow("[/dev/ttyUSB12] ", 120, 400, 3000, columns);
        EXPECT_LT(row.size(), static_cast<std::size_t>(columns)) << row;
        EXPECT_EQ(row.rfind("[/dev/ttyUSB12] ", 0), 0U) << row;
    }
    // Too narrow for any bar: the label alone, cut, never wrapping.
    EXPECT_EQ(GangProgress::formatRow("[/dev/ttyUSB12] ", 1, 4, 0, 10), "[/dev/tty");

    RunResult done;
    done.port = "COM3";
    done.outcome = RunOutcome::Completed;
    done.exitCode = 0;
    done.records = done.recordsDone = 400;
    done.durationMs = 2500;
    RunResult lost = done;
    lost.port = "/dev/ttyUSB0";
    lost.outcome = RunOutcome::DeviceLost;
    lost.reason = RunReason::DeviceLost;
    lost.deviceLost = true;
    lost.recordsDone = 120;
    lost.exitCode = 4;
    const std::string table = summaryTable({done, lost});
    EXPECT_NE(table.find("COM3          completed"), std::string::npos) << table;
    EXPECT_NE(table.find("device-lost"), std::string::npos) << table;
    EXPECT_NE(table.find("120/400"), std::string::npos) << table;
    EXPECT_NE(table.find("2.5 s"), std::string::npos) << table;
    EXPECT_EQ(table.find("round"), std::string::npos) << table;  // no station, no rounds
    lost.round = 7;
    EXPECT_NE(summaryTable({lost}).find("    7  device-lost"), std::string::npos);
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
// Runs the event loop for about `ms` milliseconds, or until `done` holds.
void spinFor(
    int ms, const std::function<bool()>& done = [] { return false; }) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms) {
        QEventLoop loop;
        QTimer::singleShot(1, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

TEST(PreciseTickTimer, FollowsTheModelAndEveryExpiryIsOneTick) {
    testing::FakeSerialDriver driver;
    testing::FakeDesktop desktop;
    testing::FixedClock clock;
    Form1 form(driver, desktop, clock);
    PreciseTickTimer timer(form);
    int arriving = 0;
    int ticked = 0;
    bool arrivedFirst = true;
    QObject::connect(&timer, &PreciseTickTimer::arriving, [&] { ++arriving; });
    QObject::connect(&timer, &PreciseTickTimer::ticked, [&] {
        ++ticked;
        arrivedFirst = arrivedFirst && arriving == ticked;
    });
    EXPECT_FALSE(timer.isActive());

    form.window().setTimerInterval(5);
    form.window().setTimerEnabled(true);
    EXPECT_TRUE(timer.isActive());
    EXPECT_EQ(timer.interval(), 5);
    spinFor(5000, [&] { return ticked >= 5; });
    ASSERT_GE(ticked, 5);
    EXPECT_TRUE(arrivedFirst);
    EXPECT_EQ(form.engine().tickCount(), static_cast<std::uint64_t>(ticked));

    form.window().setTimerInterval(7);
    EXPECT_EQ(timer.interval(), 7);
    form.window().setTimerEnabled(false);
    EXPECT_FALSE(timer.isActive());
    const int before = ticked;
    spinFor(40);
    EXPECT_EQ(ticked, before);  // stopped: no tick however long the loop runs
}

}  // namespace reburn3::cli

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
