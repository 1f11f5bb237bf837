// SPDX-License-Identifier: Apache-2.0
// The window's figures: a whole download clicked through the main window against the
// simulated device (wall time against the script's tick bound, tick periods, CPU time),
// or the window with its port open and idle (CPU time). Run offscreen:
//
//   QT_QPA_PLATFORM=offscreen gui_bench download SIM SCRIPT
//   QT_QPA_PLATFORM=offscreen gui_bench idle SIM SCRIPT SECONDS
//
// or on a real X server with a window manager, where the X server's and the window
// manager's CPU time during the run are measured too (scripts/with_x.sh names them):
//
//   scripts/with_x.sh gui_bench download-x SIM SCRIPT
//
// The connection to the display is set up as reburn3-gui sets it up
// (gui/display_setup.h: on X, pixels over the connection rather than shared memory).
// SIM is the simulator program; the script is copied to a folder of its own and given on
// the command line, as an operator would start "reburn3-gui script.pf3". One line of
// figures, key=value, goes to standard output. Exit 0 when the download completed (or
// the idle time passed), 1 otherwise.

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "adapters/qt_serial_driver.h"
#include "adapters/qt_tick_timer.h"
#include "gui/display_setup.h"
#include "gui/gui_session.h"
#include "gui/main_window.h"
#include "gui/port_dialog_widget.h"

using namespace reburn3;
using SteadyClock = std::chrono::steady_clock;

namespace {

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto s = [](const timeval& tv) {
        return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6;
    };
    return s(usage.ru_utime) + s(usage.ru_stime);
}

// The CPU time of another process from /proc, or -1 when it cannot be read;
// `pidVariable` names the environment variable that holds its process id. The scheduler's
// own count, in nanoseconds and summed over the process's threads, where the kernel keeps
// it; /proc/PID/stat counts whole clock ticks (10 ms), too coarse for a process that uses
// a hundred milliseconds in a run.
double processCpuSeconds(const char* pidVariable) {
    const QString pid = QString::fromLatin1(qgetenv(pidVariable));
    if (pid.isEmpty()) {
        return -1;
    }
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    double seconds = 0;
    int counted = 0;
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile schedstat(tasks.filePath(task + QStringLiteral("/schedstat")));
        if (schedstat.open(QIODevice::ReadOnly)) {
            seconds +=
                static_cast<double>(schedstat.readAll().split(' ').value(0).toLongLong()) / 1e9;
            ++counted;
        }
    }
    if (counted > 0) {
        return seconds;
    }
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) {
        return -1;
    }
    // The fields after the command name, which is in parentheses and may hold blanks:
    // utime and stime are the 14th and 15th of the whole line.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13) {
        return -1;
    }
    const double ticks = static_cast<double>(fields[11].toLongLong() + fields[12].toLongLong());
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// CPU time of a helper process over the run: its share of a core, or -1 when unknown.
struct HelperCpu {
    explicit HelperCpu(const char* pidVariable)
        : variable(pidVariable), atStart(processCpuSeconds(pidVariable)) {}
    double share(double wallS) const {
        const double atEnd = processCpuSeconds(variable);
        return atStart < 0 || atEnd < 0 || wallS <= 0 ? -1 : (atEnd - atStart) / wallS;
    }
    const char* variable;
    double atStart;
};

long maxRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double quantile(std::vector<double> v, double q) {
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    const auto i = static_cast<std::size_t>(q * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

// Tick periods as the window sees them: the time between the ends of two ticks.
class PeriodLog {
public:
    void ticked() {
        const SteadyClock::time_point now = SteadyClock::now();
        if (m_started) {
            m_ms.push_back(std::chrono::duration<double, std::milli>(now - m_last).count());
        }
        m_started = true;
        m_last = now;
    }
    const std::vector<double>& periods() const { return m_ms; }

private:
    std::vector<double> m_ms;
    SteadyClock::time_point m_last{};
    bool m_started = false;
};

int usage() {
    std::fprintf(stderr,
                 "usage: gui_bench download SIM SCRIPT\n"
                 "       gui_bench idle SIM SCRIPT SECONDS\n"
                 "       scripts/with_x.sh gui_bench download-x SIM SCRIPT\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    prepareDisplayConnection();  // as the program does
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        return usage();
    }
    const QString mode = args[1];
    const bool idle = mode == "idle";
    const bool onX = mode == "download-x";
    if (!idle && !onX && mode != "download") {
        return usage();
    }
    if (onX &&
        (QGuiApplication::platformName() != "xcb" || qgetenv("REBURN3_X_SERVER_PID").isEmpty())) {
        std::fprintf(stderr, "gui_bench: download-x runs under scripts/with_x.sh\n");
        return 2;
    }
    const double idleSeconds = idle && args.size() > 4 ? args[4].toDouble() : 10.0;

    // The script under a name the start-up takes as it is: no "." in the folder, the
    // extension in capitals.
    QTemporaryDir dir(QDir::tempPath() + "/reburn3-bench-XXXXXX");
    const QString script = dir.filePath("bench.PF3");
    if (!dir.isValid() || !QFile::copy(args[3], script)) {
        std::fprintf(stderr, "gui_bench: cannot copy %s\n", qPrintable(args[3]));
        return 1;
    }

    QProcess sim;
    sim.setProgram(args[2]);
    sim.setArguments({script, "--stay", "--lifetime", "600"});
    sim.start();
    if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000)) {
        std::fprintf(stderr, "gui_bench: the simulator did not start\n");
        return 1;
    }
    qputenv("ORX716_COM6", sim.readLine().trimmed());

    QtSerialDriver driver;
    GuiSession session(driver);
    session.desktop().setEndAction([] {});
    session.start(argumentText({"reburn3-gui", dir.filePath("bench.pf3")}).toStdString());
    MainWindow& win = session.mainWindow();
    Form1& form = session.form();

    win.button(ButtonId::ConfigComPort)->click();
    session.portDialog().ComxBtn(6)->click();
    session.portDialog().initializeButton()->click();
    if (form.state().PortOpen == 0) {
        std::fprintf(stderr, "gui_bench: the port did not open\n");
        return 1;
    }

    PeriodLog periods;
    QObject::connect(&session.tickTimer(), &QtTickTimer::ticked, [&] { periods.ticked(); });
    const HelperCpu xServer("REBURN3_X_SERVER_PID");
    const HelperCpu windowManager("REBURN3_WM_PID");
    const double cpuAtStart = cpuSeconds();
    const SteadyClock::time_point start = SteadyClock::now();
    bool ok = true;
    if (idle) {
        QTimer::singleShot(static_cast<int>(idleSeconds * 1000), &app, &QApplication::quit);
        app.exec();
    } else {
        win.button(ButtonId::ProgramFlash)->click();
        QObject::connect(&session.tickTimer(), &QtTickTimer::ticked, [&] {
            if (form.state().ProgramMode == 0 && form.engine().outcome() != RunOutcome::Running) {
                app.quit();
            }
        });
        app.exec();
        ok = form.engine().outcome() == RunOutcome::Completed;
    }
    const double wallS = std::chrono::duration<double>(SteadyClock::now() - start).count();
    const double cpuS = cpuSeconds() - cpuAtStart;

    const std::uint64_t bound = form.reader().summary().tickBound();
    std::printf(
        "gui-%s wallS=%.3f tickBound=%llu ratio=%.4f ticks=%llu periodMedianMs=%.3f "
        "periodP99Ms=%.3f periodMaxMs=%.3f cpuS=%.3f cpuShare=%.4f maxRssKb=%ld "
        "xServerCpuShare=%.4f wmCpuShare=%.4f completed=%d\n",
        idle ? "idle" : (onX ? "download-x" : "download"), wallS,
        static_cast<unsigned long long>(bound),
        idle ? 0.0 : wallS / (static_cast<double>(bound) * 0.005),
        static_cast<unsigned long long>(form.engine().tickCount()),
        quantile(periods.periods(), 0.5), quantile(periods.periods(), 0.99),
        quantile(periods.periods(), 1.0), cpuS, cpuS / wallS, maxRssKb(), xServer.share(wallS),
        windowManager.share(wallS), ok ? 1 : 0);
    std::fflush(stdout);

    win.button(ButtonId::AbortProgram)->click();
    sim.terminate();
    sim.waitForFinished(5000);
    return ok ? 0 : 1;
}
