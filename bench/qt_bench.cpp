// SPDX-License-Identifier: Apache-2.0
// Micro-benchmarks of the Qt edges: a log post with the repaint of the window's own
// list view (offscreen), and the serial driver's put and poll per byte over a
// pseudo-terminal. They report figures; they never fail on time.
#include <benchmark/benchmark.h>

#include <QApplication>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "adapters/qt_serial_driver.h"
#include "gui/gui_session.h"
#include "gui/main_window.h"

using namespace reburn3;

namespace {

// A pseudo-terminal whose far end this side reads and writes, raw and non-blocking.
class Pty {
public:
    Pty() {
        m_master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_master >= 0 && grantpt(m_master) == 0 && unlockpt(m_master) == 0) {
            m_slave = ptsname(m_master);
        }
    }
    ~Pty() {
        if (m_master >= 0) {
            ::close(m_master);
        }
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& slave() const { return m_slave; }
    void drain() {
        char buf[4096];
        while (::read(m_master, buf, sizeof buf) > 0) {
        }
    }
    void send(std::size_t n) {
        const std::string bytes(n, '\x5A');
        std::size_t done = 0;
        while (done < n) {
            const ssize_t w = ::write(m_master, bytes.data() + done, n - done);
            if (w <= 0) {
                break;
            }
            done += static_cast<std::size_t>(w);
        }
    }

private:
    int m_master = -1;
    std::string m_slave;
};

// The driver with port 1 opened on the pseudo-terminal with the calls and line codes
// the program uses (115200 baud, 8 data bits, no parity, 1 stop bit).
bool openDriver(QtSerialDriver& driver, const Pty& pty) {
    driver.setDevice(1, pty.slave());
    return driver.InitializePort(1, 0, 0, 0, 9, 0, 1024, 1024, 0) == 0 &&
           driver.SetPortCharacteristics(1, 11, 0, 3, 0, 0) == 0;
}

void BM_LogPostWithRepaint(benchmark::State& state) {
    QtSerialDriver driver;
    GuiSession session(driver);
    session.desktop().setEndAction([] {});
    session.start("");
    QApplication::processEvents();
    // A full log, as in a long download: every post also drops the oldest line.
    for (int i = 0; i < 1000; ++i) {
        session.form().PostMsg1("Line " + std::to_string(i));
    }
    std::int64_t n = 0;
    const std::string line = "Processing line 1234 of 4096   12:34:56";
    for (auto _ : state) {
        session.form().PostMsg1(line);
        ++n;
    }
    state.SetItemsProcessed(n);
}
BENCHMARK(BM_LogPostWithRepaint)->Unit(benchmark::kMicrosecond);

// PutByte, one byte; every 64 bytes the zero-length packet write that ends a group,
// and the far end reads what came.
void BM_DriverPutByte(benchmark::State& state) {
    Pty pty;
    QtSerialDriver driver;
    if (pty.slave().empty() || !openDriver(driver, pty)) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    std::int64_t n = 0;
    for (auto _ : state) {
        driver.PutByte(1, 0x5A);
        if (++n % 64 == 0) {
            driver.ser_rs232_putpacket(1, 0, nullptr);
            state.PauseTiming();
            pty.drain();
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(n);
    driver.UnInitializePort(1);
}
BENCHMARK(BM_DriverPutByte)->Unit(benchmark::kMicrosecond);

// A poll that finds nothing waiting: what every tick of a receive wait costs.
void BM_DriverPollEmpty(benchmark::State& state) {
    Pty pty;
    QtSerialDriver driver;
    if (pty.slave().empty() || !openDriver(driver, pty)) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(driver.IsReceiveBufferEmpty(1));
    }
    driver.UnInitializePort(1);
}
BENCHMARK(BM_DriverPollEmpty)->Unit(benchmark::kMicrosecond);

// A poll and a read of one waiting byte.
void BM_DriverPollAndGetByte(benchmark::State& state) {
    Pty pty;
    QtSerialDriver driver;
    if (pty.slave().empty() || !openDriver(driver, pty)) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    std::int64_t n = 0;
    for (auto _ : state) {
        if (driver.IsReceiveBufferEmpty(1) != 0) {
            state.PauseTiming();
            pty.send(1024);
            usleep(1000);  // let the bytes reach the terminal's input queue
            state.ResumeTiming();
            continue;
        }
        benchmark::DoNotOptimize(driver.GetByte(1));
        ++n;
    }
    state.SetItemsProcessed(n);
    driver.UnInitializePort(1);
}
BENCHMARK(BM_DriverPollAndGetByte)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
