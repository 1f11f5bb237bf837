// SPDX-License-Identifier: Apache-2.0
// The program's engine against the simulated device, in process: a serial driver
// that hands every written byte to the device model and delivers its replies by the
// program's own tick count (5 ms a tick), so whole downloads run deterministically.

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/form1.h"
#include "fakes/fake_desktop.h"
#include "serial/serial_driver.h"
#include "sim/device_model.h"

#ifndef REBURN3_EXAMPLES_DIR
#error "REBURN3_EXAMPLES_DIR must name the examples folder"
#endif

namespace reburn3::sim {
namespace {

constexpr Millis kTick{5};

class DeviceDriver final : public SerialDriver {
public:
    explicit DeviceDriver(DeviceModel& device) : m_device(device) {}

    void tick() { m_now += kTick; }

    std::int32_t InitializePort(std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                                std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                                std::int32_t) override {
        return 0;
    }
    std::int32_t ser_rs232_getport(std::int32_t, PortInfoRecord&) override { return 0; }
    std::int32_t SetPortCharacteristics(std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                                        std::int32_t, std::int32_t) override {
        return 0;
    }
    std::int32_t CdrvSetTimerResolution(std::int32_t, std::int32_t) override { return 0; }
    std::int32_t SetTimeout(std::int32_t, std::int32_t) override { return 0; }
    std::int32_t SetPaceTime(std::int32_t, std::int32_t) override { return 0; }
    std::int32_t FlushReceiveBuffer(std::int32_t) override {
        deliver();
        m_rx.clear();
        return 0;
    }
    std::int32_t FlushTransmitBuffer(std::int32_t) override { return 0; }
    std::int32_t IsReceiveBufferEmpty(std::int32_t) override {
        deliver();
        return m_rx.empty() ? 1 : 0;
    }
    std::int32_t GetByte(std::int32_t) override {
        deliver();
        if (m_rx.empty()) {
            return 0;
        }
        const std::uint8_t b = m_rx.front();
        m_rx.pop_front();
        return b;
    }
    std::int32_t PutByte(std::int32_t, std::int32_t byte) override {
        written.push_back(static_cast<std::uint8_t>(byte));
        for (Reply& r : m_device.receive(static_cast<std::uint8_t>(byte), m_now)) {
            m_pending.push_back({m_now + r.delay, std::move(r.bytes)});
        }
        return 0;
    }
    std::int32_t ser_rs232_putpacket(std::int32_t, std::int32_t, const char*) override { return 0; }
    std::int32_t UnInitializePort(std::int32_t) override { return 0; }

    std::vector<std::uint8_t> written;

private:
    struct Pending {
        Millis due;
        std::vector<std::uint8_t> bytes;
    };
    void deliver() {
        while (!m_pending.empty() && m_pending.front().due <= m_now) {
            m_rx.insert(m_rx.end(), m_pending.front().bytes.begin(), m_pending.front().bytes.end());
            m_pending.pop_front();
        }
    }

    DeviceModel& m_device;
    Millis m_now{0};
    std::deque<Pending> m_pending;
    std::deque<std::uint8_t> m_rx;
};

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string writeTemp(const std::string& name, const std::string& bytes) {
    const std::string path = ::testing::TempDir() + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

const std::string kDemo = std::string(REBURN3_EXAMPLES_DIR) + "/orx716_demo.pf3";
const std::string kTiny = std::string(REBURN3_EXAMPLES_DIR) + "/orx716_tiny.pf3";

// The program with the device on its port, driven the way an operator drives it.
class Bench {
public:
    Bench(const std::string& deviceScript, DeviceOptions options)
        : m_device(loadScript(readFile(deviceScript)).script.value(), options),
          m_driver(m_device),
          m_form(m_driver, m_desktop, m_clock) {
        m_form.InitVariables();
        m_form.ComxBtn_Click(1);
        m_form.Initialize_Click();
    }

    // One download of `hostScript`; returns how it ended. Gives up after `maxTicks`.
    RunOutcome download(const std::string& hostScript, std::uint64_t maxTicks = 20000) {
        m_desktop.answers.push_back(hostScript);
        m_form.SelectInputFile_Click();
        m_form.ProgramFlash_Click();
        ticks = 0;
        while (m_form.state().ProgramMode != 0 && ticks < maxTicks) {
            m_driver.tick();
            m_form.Timer2_Timer();
            ++ticks;
        }
        return m_form.engine().outcome();
    }

    bool debugHas(const std::string& line) const {
        const auto& lines = m_form.window().log(LogId::Debug).lines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    DeviceModel& device() { return m_device; }
    DeviceDriver& driver() { return m_driver; }
    Form1& form() { return m_form; }
    std::uint64_t ticks = 0;

private:
    DeviceModel m_device;
    DeviceDriver m_driver;
    testing::FakeDesktop m_desktop;
    testing::FixedClock m_clock;
    Form1 m_form;
};

std::vector<std::uint8_t> hostBytes(const std::string& script) {
    std::vector<std::uint8_t> bytes = {0xE1, 0x94};
    LoadResult loaded = openScript(script);
    DeviceScript& steps = loaded.script.value();
    for (const Step* s = steps.current(); s != nullptr; steps.next(), s = steps.current()) {
        if (s->kind == Step::Kind::FromHost) {
            bytes.push_back(s->byte);
        }
    }
    return bytes;
}

TEST(EngineWithDevice, TinyScriptCompletes) {
    Bench bench(kTiny, {});
    EXPECT_EQ(bench.download(kTiny), RunOutcome::Completed);
    EXPECT_EQ(bench.driver().written, (std::vector<std::uint8_t>{0xE1, 0x94, 0x5A, 0x01, 0x02}));
    EXPECT_TRUE(bench.device().finished());
}

TEST(EngineWithDevice, DemoScriptCompletesWithinItsTickBound) {
    Bench bench(kDemo, {});
    EXPECT_EQ(bench.download(kDemo), RunOutcome::Completed);
    EXPECT_EQ(bench.driver().written, hostBytes(kDemo));
    EXPECT_TRUE(bench.device().mismatches().empty());
    EXPECT_LE(bench.ticks, bench.form().reader().summary().tickBound());
    EXPECT_EQ(bench.form().window().text(TextBoxId::Text5), "100.0 %");
}

TEST(EngineWithDevice, DeviceFaultsAreSeenByTheHost) {
    struct Case {
        const char* name;
        DeviceOptions options;
        RunOutcome outcome;
    };
    auto with = [](auto set) {
        DeviceOptions o;
        set(o);
        return o;
    };
    const std::vector<Case> cases = {
        {"silent handshake", with([](DeviceOptions& o) { o.silentHandshake = true; }),
         RunOutcome::DeviceFailed},
        {"first handshake ignored", with([](DeviceOptions& o) { o.ignoreHandshakes = 1; }),
         RunOutcome::DeviceFailed},
        {"bad handshake", with([](DeviceOptions& o) { o.badHandshake = true; }),
         RunOutcome::DeviceFailed},
        {"stray byte", with([](DeviceOptions& o) { o.stray = true; }), RunOutcome::DeviceFailed},
        {"noise", with([](DeviceOptions& o) { o.noise = 40; }), RunOutcome::Completed},
        {"wrong byte", with([](DeviceOptions& o) { o.wrongByteAt = 7; }), RunOutcome::DeviceFailed},
        {"silent", with([](DeviceOptions& o) { o.silentFrom = 3; }), RunOutcome::DeviceFailed},
        {"a little late", with([](DeviceOptions& o) { o.late = Millis{200}; }),
         RunOutcome::Completed},
        {"too late", with([](DeviceOptions& o) { o.late = Millis{300}; }),
         RunOutcome::DeviceFailed},
        {"echo", with([](DeviceOptions& o) { o.echo = true; }), RunOutcome::DeviceFailed},
    };
    for (const Case& c : cases) {
        Bench bench(kDemo, c.options);
        EXPECT_EQ(bench.download(kDemo), c.outcome) << c.name;
    }
}

TEST(EngineWithDevice, HostSeesTheWrongAnswerLine) {
    DeviceOptions o;
    o.wrongByteAt = 1;
    Bench bench(kTiny, o);
    EXPECT_EQ(bench.download(kTiny), RunOutcome::DeviceFailed);
    EXPECT_TRUE(bench.debugHas("Error.  Expected = 91  Read = 6E"));
}

TEST(EngineWithDevice, ScriptsThatDifferAreReportedByTheDevice) {
    const std::string other = writeTemp("sim_other.pf3", "T5A:T02:R91:E\r\n:T02:R26:E\r\n:");
    Bench bench(kTiny, {});
    EXPECT_EQ(bench.download(other), RunOutcome::DeviceFailed);
    ASSERT_EQ(bench.device().mismatches().size(), 1u);
    EXPECT_EQ(bench.device().mismatches()[0].received, 0x02);
    EXPECT_TRUE(bench.debugHas("Error.  Expected = 91  Read = 6E"));
}

TEST(EngineWithDevice, LeadingRRecordsArriveInsideTheHostsWindow) {
    const std::string script = writeTemp("sim_lead.pf3", "R05:E\r\n:T01:R02:E\r\n:");
    Bench bench(script, {});
    EXPECT_EQ(bench.download(script), RunOutcome::Completed);
}

TEST(EngineWithDevice, StayingDeviceServesSeveralDownloads) {
    DeviceOptions o;
    o.stay = true;
    Bench bench(kDemo, o);
    EXPECT_EQ(bench.download(kDemo), RunOutcome::Completed);
    EXPECT_EQ(bench.download(kDemo), RunOutcome::Completed);
    EXPECT_EQ(bench.device().downloads(), 2u);
    EXPECT_EQ(bench.device().completed(), 2u);
}

TEST(EngineWithDevice, StayingDeviceServesANewRunRightAfterAnAbort) {
    DeviceOptions o;
    o.stay = true;
    Bench bench(kDemo, o);
    EXPECT_EQ(bench.download(kDemo, 200), RunOutcome::Running);
    bench.form().ProgramFlash_Click();  // "Abort Process"
    EXPECT_EQ(bench.form().engine().outcome(), RunOutcome::Aborted);
    EXPECT_EQ(bench.download(kDemo), RunOutcome::Completed);
    EXPECT_TRUE(bench.device().mismatches().empty());
    EXPECT_EQ(bench.device().completed(), 1u);
}

TEST(EngineWithDevice, StayingDeviceRecoversFromAFailedDownload) {
    DeviceOptions o;
    o.stay = true;
    o.silentFrom = 2;
    Bench bench(kTiny, o);
    EXPECT_EQ(bench.download(kTiny), RunOutcome::DeviceFailed);
    EXPECT_TRUE(bench.debugHas("Error. Read time out."));
    // Only the first R is answered in each download, so the second one fails the same way.
    EXPECT_EQ(bench.download(kTiny), RunOutcome::DeviceFailed);
    EXPECT_EQ(bench.device().downloads(), 2u);
}

}  // namespace
}  // namespace reburn3::sim
