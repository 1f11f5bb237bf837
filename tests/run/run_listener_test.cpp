// SPDX-License-Identifier: Apache-2.0
// A round told through the run's listener: the real gang, session, engine and QSerialPort
// driver against the simulated device on a real pseudo-terminal, with a listener that
// notes each event. The run itself writes nothing to standard output or error.

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <future>
#include <iterator>
#include <string>
#include <vector>

#include "base/program_state.h"
#include "run/flash_session.h"
#include "run/port_gang.h"
#include "run/run_context.h"
#include "run/run_listener.h"
#include "run/script_snapshot.h"
#include "run/signal_watcher.h"
#include "sim/pty_device.h"

namespace reburn3::run {
namespace {

std::string tempPath(const std::string& name) {
    return ::testing::TempDir() + "/" + name + "." + std::to_string(::getpid());
}

std::string writeScript(const std::string& name, const std::string& text) {
    const std::string path = tempPath(name);
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

// Three records: the handshake's answer, then two bytes the device answers.
const std::string kScript = "T5A:T01:R91:E\r\n:T02:R26:E\r\n:";

// Notes every event of the run as a word. Log lines and changed text boxes are counted
// (how many there are, and where among the steps they fall, is the engine's business),
// and so is the moment every port had been started, which depends on the event loop.
class NotingListener final : public RunListener {
public:
    std::vector<std::string> events;
    std::vector<std::string> lines;
    QJsonObject told;

    void note(const std::string& event) { events.push_back(event); }

    class Port final : public PortListener {
    public:
        explicit Port(NotingListener& owner) : m_owner(owner) {}
        void lineAppended(LogId /*log*/, const std::string& line,
                          std::size_t /*dropped*/) override {
            m_owner.lines.push_back(line);
        }
        void textChanged(TextBoxId /*box*/) override { ++m_owner.boxesChanged; }
        void stepStarting() override { ++m_owner.steps; }
        void stepOver() override { --m_owner.steps; }
        void ready(const RunResult& base) override {
            m_owner.note("ready " + std::string(base.device.empty() ? "-" : "device"));
        }
        void notice(const std::string& /*text*/) override { m_owner.note("notice"); }
        void message(const std::string& /*text*/) override { m_owner.note("message"); }
        void deviceEvent(std::string_view name, const std::string& /*text*/) override {
            m_owner.note("device " + std::string(name));
        }
        void runStarted() override { m_owner.note("run-started"); }
        void runEnded() override { m_owner.note("run-ended"); }
        void statistics(const std::string& /*line*/) override { m_owner.note("statistics"); }

    private:
        NotingListener& m_owner;
    };

    void roundStarting(const FlashOptions& /*options*/, std::size_t ports) override {
        note("round " + std::to_string(ports));
    }
    std::unique_ptr<PortListener> portListener(std::size_t index, const PortTask& task,
                                               const ProgramState& /*state*/) override {
        note("listener " + std::to_string(index) + " attempt " + std::to_string(task.attempt));
        return std::make_unique<Port>(*this);
    }
    void portStarted(std::size_t index, const FlashSession& session) override {
        note("started " + std::to_string(index) + " " + session.task().target.text);
    }
    void everyPortStarted() override { ++everyPortStartedTold; }
    void retry(const RetryEvent& retry) override {
        note("retry " + std::to_string(retry.failed) + " of " + std::to_string(retry.of) + " " +
             retry.reason);
    }
    RunResult tell(std::size_t index, const RunEnd& end, QJsonObject& object) override {
        note("tell " + std::to_string(index) + " " + (end.logFailure.empty() ? "" : "lost"));
        object = QJsonObject{{"exitCode", end.result.exitCode}};
        return end.result;
    }
    void portEnded(std::size_t index, const RunResult& result, const QJsonObject& object) override {
        note("ended " + std::to_string(index) + " exit " + std::to_string(result.exitCode) +
             " told " + std::to_string(object.value("exitCode").toInt()));
        told = object;
    }
    void roundOver() override { note("round-over"); }

    int steps = 0;  // steps started and not yet over
    int boxesChanged = 0;
    int everyPortStartedTold = 0;
};

// Standard output and error sent to a file while it lives; what went there, after.
class CapturedOutput {
public:
    CapturedOutput() : m_path(tempPath("run_listener_output")) {
        std::fflush(stdout);
        std::fflush(stderr);
        m_saved[0] = ::dup(STDOUT_FILENO);
        m_saved[1] = ::dup(STDERR_FILENO);
        const int fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ::dup2(fd, STDOUT_FILENO);
        ::dup2(fd, STDERR_FILENO);
        ::close(fd);
    }
    ~CapturedOutput() { restore(); }
    CapturedOutput(const CapturedOutput&) = delete;
    CapturedOutput& operator=(const CapturedOutput&) = delete;

    std::string restore() {
        if (m_saved[0] >= 0) {
            std::fflush(stdout);
            std::fflush(stderr);
            ::dup2(m_saved[0], STDOUT_FILENO);
            ::dup2(m_saved[1], STDERR_FILENO);
            ::close(m_saved[0]);
            ::close(m_saved[1]);
            m_saved[0] = m_saved[1] = -1;
        }
        std::ifstream in(m_path, std::ios::binary);
        std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        std::remove(m_path.c_str());
        return text;
    }

private:
    std::string m_path;
    int m_saved[2] = {-1, -1};
};

struct RoundCase {
    const char* name;
    sim::DeviceOptions device;
    int retries;
    std::vector<std::string> events;
};

class ListenedRound : public ::testing::TestWithParam<RoundCase> {};

TEST_P(ListenedRound, TellsEveryEventInOrderAndPrintsNothing) {
    const RoundCase& c = GetParam();
    sim::PtyDevice pty;
    ASSERT_TRUE(pty.open()) << pty.error();
    sim::DeviceModel model(sim::loadScript(kScript).script.value(), c.device);
    int stop[2] = {-1, -1};
    ASSERT_EQ(::pipe(stop), 0);
    auto device =
        std::async(std::launch::async, [&pty, &model, fd = stop[0]] { return pty.run(model, fd); });

    FlashOptions options;
    options.script = writeScript("run_listener.pf3", kScript);
    options.port = pty.path();
    options.ports = {pty.path()};
    options.retries = c.retries;
    options.retryQuietSeconds = 0.05;
    NotingListener listener;
    std::vector<RunResult> results;
    std::string printed;
    {
        CapturedOutput output;
        SignalWatcher watcher;
        FlashContext context{options, baseResult(options), {}, {}, watcher, nullptr, nullptr,
                             nullptr};
        ScriptSnapshot snapshot;
        ASSERT_FALSE(openShared(context, snapshot).has_value());
        PortGang gang(context, options.ports, 0, listener);
        results = gang.run();
        printed = output.restore();
    }
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(stop[1], &byte, 1);
    device.wait();
    ::close(stop[0]);
    ::close(stop[1]);
    std::remove(options.script.c_str());

    EXPECT_EQ(printed, "") << "the run tells its listener and never prints";
    ASSERT_EQ(results.size(), 1U);
    EXPECT_EQ(results[0].exitCode, 0) << results[0].detail;
    EXPECT_EQ(results[0].attempts, c.retries + 1);
    EXPECT_EQ(results[0].port, pty.path());
    EXPECT_EQ(results[0].device, pty.path());
    EXPECT_EQ(listener.steps, 0) << "every step started was told over";
    EXPECT_FALSE(listener.lines.empty());
    EXPECT_GT(listener.boxesChanged, 0);
    EXPECT_EQ(listener.everyPortStartedTold, 1);
    std::vector<std::string> expected;
    for (const std::string& e : c.events) {
        expected.push_back(e == "started" ? "started 0 " + pty.path() : e);
    }
    EXPECT_EQ(listener.events, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rounds, ListenedRound,
    ::testing::Values(RoundCase{"Completed",
                                {},
                                0,
                                {"round 1", "listener 0 attempt 1", "started", "ready device",
                                 "run-started", "run-ended", "tell 0 ", "ended 0 exit 0 told 0",
                                 "round-over"}},
                      // The first attempt's end is not told: the retry is, then the board's
                      // one end.
                      RoundCase{"RetriedAfterAnUnansweredHandshake",
                                [] {
                                    sim::DeviceOptions d;
                                    d.ignoreHandshakes = 1;
                                    return d;
                                }(),
                                1,
                                {"round 1", "listener 0 attempt 1", "started", "ready device",
                                 "run-started", "run-ended", "retry 1 of 2 no-reply",
                                 "listener 0 attempt 2", "started", "ready device", "run-started",
                                 "run-ended", "tell 0 ", "ended 0 exit 0 told 0", "round-over"}}),
    [](const ::testing::TestParamInfo<RoundCase>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace reburn3::run
