#include "cli/flash_command.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>

#include "app/clock.h"
#include "app/form1.h"
#include "app/startup.h"
#include "cli/console_desktop.h"
#include "cli/exit_codes.h"
#include "cli/handshake_limit.h"
#include "cli/port_path.h"
#include "cli/precise_tick_timer.h"
#include "cli/recording_driver.h"
#include "cli/run_stats.h"
#include "cli/sha256_digest.h"
#include "cli/signal_watcher.h"
#include "script/script_file.h"
#include "script/script_stream.h"
#include "serial/device_loss.h"
#include "serial/port_map.h"
#include "serial/qt_serial_driver.h"
#include "ui/messages.h"

namespace reburn3::cli {

namespace {

// The port the operator clicks in the port dialog when the command line names a device
// path instead of a COM port: the path then stands for port 1.
constexpr std::int16_t kPathPort = 1;
constexpr double kTickSeconds = 0.005;

qint64 toJsonNumber(std::uint64_t n) {
    return static_cast<qint64>(n);
}

class FlashSession {
public:
    FlashSession(const FlashOptions& options, SignalWatcher& watcher,
                 std::shared_ptr<ScriptFile> script)
        : m_options(options),
          m_recorder(m_driver),
          m_desktop(options.script),
          m_form(m_recorder, m_desktop, m_clock),
          m_view(m_form.state(), options.json, options.progress),
          m_timer(m_form),
          m_signals(watcher),
          m_handshakeLimit(options.handshakeLimitSeconds) {
        // The script opened once for the whole command: every open of its name reads it.
        m_form.script().holdFile(options.script, std::move(script));
        CheckOptions check;
        check.lineBaud = options.lineBaud;
        check.digest = &m_digest;
        check.stopRequested = [this] { return m_signals.raised(); };
        m_form.reader().setCheckOptions(std::move(check));
        m_recorder.setTickSource([this] { return m_form.engine().tickCount(); });
        m_recorder.setKeepBytes(!options.tracePath.empty());
        m_form.window().addListener(&m_view);
        QObject::connect(&m_timer, &PreciseTickTimer::ticked, [this] { afterTick(); });
        // The watcher outlives the session (it serves a whole --repeat series): the
        // connection must end with the session, so it is tied to one of its objects.
        QObject::connect(&m_signals, &SignalWatcher::signalled, &m_driver,
                         [this](int) { interrupt(); });
        QObject::connect(&m_driver, &QtSerialDriver::deviceWasLost, [this] { reportLoss(); });
        if (options.reactive) {
            QObject::connect(&m_driver, &QtSerialDriver::bytesArrived, &m_driver,
                             [this] { react(); });
        }
        if (options.stats) {
            m_stats = std::make_unique<RunStats>();
            QObject::connect(&m_timer, &PreciseTickTimer::arriving,
                             [this] { m_stats->tickArrived(); });
        }
    }
    ~FlashSession() { m_form.window().removeListener(&m_view); }
    FlashSession(const FlashSession&) = delete;
    FlashSession& operator=(const FlashSession&) = delete;

    // Runs the whole session in the application's event loop; returns the exit code.
    int exec() {
        QTimer::singleShot(0, [this] { start(); });
        return QCoreApplication::exec();
    }

private:
    void start() {
        std::int16_t port = kPathPort;
        if (const std::optional<int> com = parseComName(m_options.port)) {
            port = static_cast<std::int16_t>(*com);
        } else {
            m_driver.setDevice(kPathPort, resolvePortPath(m_options.port));
        }
        m_device = m_driver.device(port);

        MainStartUp(m_form, "");
        m_form.SelectInputFile_Click();
        if (checkInterrupted()) {
            return;
        }
        if (m_form.state().FileMode != 1) {
            finish(kExitBadScript);
            return;
        }
        // A script with faults has had them posted; it would be refused at the start of
        // the run, so the port is not even opened.
        if (!m_form.reader().summary().ok()) {
            finish(kExitBadScript);
            return;
        }

        m_form.ConfigComPort_Click();
        m_form.ComxBtn_Click(port);
        m_form.Initialize_Click();
        if (m_form.state().PortOpen == kFalse) {
            finish(kExitPortFailed);
            return;
        }

        if (m_stats) {
            m_stats->runStarted();
        }
        m_view.runStarted();
        m_form.ProgramFlash_Click();
        if (checkInterrupted()) {
            return;
        }
        if (m_form.state().ProgramMode == 0) {
            finish(exitCodeFor(m_form.engine().outcome(), m_driver.deviceLost()));
        }
    }

    // A signal that came during a whole-file check stopped it: the session ends as
    // interrupted, with nothing sent.
    bool checkInterrupted() {
        if (!m_form.reader().summary().interrupted) {
            return false;
        }
        finish(kExitInterrupted);
        return true;
    }

    void afterTick() {
        if (!m_finished &&
            m_handshakeLimit.exceeded(m_form.engine().tickCount(), m_form.state().ProgramMode)) {
            giveUpHandshake();
            return;
        }
        if (m_options.reactive) {
            react();
            return;
        }
        checkEnd();
    }

    // --reactive: the step the device's data allows now, without waiting for a tick.
    void react() {
        if (m_finished) {
            return;
        }
        if (m_driver.isOpen()) {
            m_form.engine().reactiveStep();
        }
        checkEnd();
    }

    void checkEnd() {
        if (!m_finished && m_form.engine().outcome() != RunOutcome::None &&
            m_form.state().ProgramMode == 0) {
            finish(exitCodeFor(m_form.engine().outcome(), m_driver.deviceLost()));
        }
    }

    // Said once, when it happens; the run itself ends at its next failed write or at its
    // receive time-out, as it would in the window.
    void reportLoss() {
        const std::string text = deviceLossLine(m_device);
        if (m_options.json) {
            QJsonObject event;
            event.insert("event", "device-lost");
            event.insert("text", QString::fromStdString(text));
            m_view.printJson(event);
        } else {
            m_view.printNotice(text);
        }
    }

    // A device that never goes quiet: say why, abort the run as "Abort Process" would,
    // and fail.
    void giveUpHandshake() {
        m_handshakeLimitHit = true;
        const std::string text = m_handshakeLimit.reason();
        if (m_options.json) {
            QJsonObject event;
            event.insert("event", "handshake-limit");
            event.insert("text", QString::fromStdString(text));
            m_view.printJson(event);
        } else {
            m_view.printNotice(text);
        }
        m_form.ProgramFlash_Click();
        finish(kExitDeviceFailed);
    }

    // Ctrl-C, SIGTERM or SIGHUP: abort the run as "Abort Process" would, then leave.
    void interrupt() {
        if (m_finished) {
            return;
        }
        if (m_form.state().ProgramMode != 0) {
            m_form.ProgramFlash_Click();
        }
        finish(kExitInterrupted);
    }

    // The least time the run is measured against: on ticks the tick bound; with reactive
    // steps on a line of known rate, the line's own limit (without a rate, the tick
    // bound, which a reactive run beats by far).
    double leastSeconds(const ScriptSummary& summary) const {
        if (m_options.reactive && m_options.lineBaud != 0) {
            return summary.reactiveBoundSeconds();
        }
        return static_cast<double>(summary.tickBound()) * kTickSeconds;
    }

    // Closes the script and the port as "Exit / Abort" does, writes the trace and the
    // result, and ends the event loop with `code`.
    void finish(int code) {
        if (m_finished) {
            return;
        }
        m_finished = true;
        if (m_stats) {
            const ScriptSummary& summary = m_form.reader().summary();
            m_stats->runEnded(summary.tickBound(), leastSeconds(summary),
                              m_form.engine().tickCount());
        }
        m_view.runEnded();
        m_form.AbortProgram_Click();
        if (!m_desktop.endRequested()) {
            // Refused because a tick or a write was in progress: cannot happen between
            // ticks, but the port must not stay open whatever happens.
            m_form.window().setTimerEnabled(false);
            m_form.link().ClosePort();
        }
        if (!m_options.tracePath.empty() && !m_recorder.writeTrace(m_options.tracePath)) {
            std::fprintf(stderr, "reburn3: cannot write the trace to %s\n",
                         m_options.tracePath.c_str());
        }
        if (m_stats) {
            std::fprintf(stderr, "%s\n", m_stats->summaryLine().c_str());
        }
        if (m_options.json) {
            printResult(code);
        }
        QCoreApplication::exit(code);
    }

    // The outcome in a word; for a session that ended before a run could start, what
    // stopped it.
    std::string_view resultName(int code) {
        if (m_handshakeLimitHit) {
            return outcomeName(RunOutcome::DeviceFailed);
        }
        if (m_form.reader().summary().interrupted) {
            return "interrupted";
        }
        const RunOutcome outcome = m_form.engine().outcome();
        if (outcome != RunOutcome::None && outcome != RunOutcome::Running) {
            return outcomeName(outcome);
        }
        switch (code) {
            case kExitBadScript:
                return "script-refused";
            case kExitPortFailed:
                return "port-failed";
            case kExitInterrupted:
                return "interrupted";
            default:
                return outcomeName(outcome);
        }
    }

    void printResult(int code) {
        const ProgramState& s = m_form.state();
        const ScriptSummary& summary = m_form.reader().summary();
        QJsonObject result;
        result.insert("result", QString::fromUtf8(resultName(code).data()));
        result.insert("exitCode", code);
        result.insert("completed", m_form.engine().outcome() == RunOutcome::Completed);
        result.insert("deviceLost", m_driver.deviceLost());
        result.insert("records", s.RecordsTotal);
        result.insert("recordsDone", s.RecordsDone);
        result.insert("scriptLines", toJsonNumber(summary.lines));
        result.insert("bytesToSend", toJsonNumber(summary.txBytes));
        result.insert("bytesToVerify", toJsonNumber(summary.rxBytes));
        result.insert("bytesSent", toJsonNumber(m_recorder.sentCount()));
        result.insert("bytesReceived", toJsonNumber(m_recorder.receivedCount()));
        result.insert("ticks", toJsonNumber(m_form.engine().tickCount()));
        result.insert("durationMs", static_cast<qint64>(m_view.elapsedMs()));
        result.insert("port", QString::fromStdString(m_options.port));
        result.insert("device", QString::fromStdString(m_device));
        result.insert("script", QString::fromStdString(m_options.script));
        result.insert("sha256", QString::fromStdString(summary.digest));
        if (m_stats) {
            result.insert("stats", m_stats->toJson());
        }
        result.insert("reactive", m_options.reactive);
        m_view.printJson(result);
    }

    const FlashOptions& m_options;
    QtSerialDriver m_driver;
    RecordingDriver m_recorder;
    ConsoleDesktop m_desktop;
    SystemClock m_clock;
    Form1 m_form;
    ConsoleView m_view;
    PreciseTickTimer m_timer;
    SignalWatcher& m_signals;
    Sha256Digest m_digest;
    HandshakeLimit m_handshakeLimit;
    std::unique_ptr<RunStats> m_stats;
    std::string m_device;
    bool m_handshakeLimitHit = false;
    bool m_finished = false;
};

// What a long series of downloads must not let grow: resident memory (VmRSS, in kB) and
// the number of open file descriptors.
struct Resources {
    long rssKb = -1;
    long openFds = -1;
};

Resources currentResources() {
    Resources r;
    std::ifstream status("/proc/self/status");
    std::string word;
    while (status >> word) {
        if (word == "VmRSS:") {
            status >> r.rssKb;
            break;
        }
    }
    std::error_code error;
    long count = 0;
    for (std::filesystem::directory_iterator it("/proc/self/fd", error), end; !error && it != end;
         it.increment(error)) {
        ++count;
    }
    if (!error) {
        r.openFds = count;
    }
    return r;
}

// After every tenth run of a series, and after its last: how far it got and what the
// process holds.
void reportRepeat(const FlashOptions& options, int run, int code) {
    const Resources r = currentResources();
    if (options.json) {
        QJsonObject event;
        event.insert("event", "repeat");
        event.insert("run", run);
        event.insert("of", options.repeat);
        event.insert("exitCode", code);
        event.insert("vmRssKb", static_cast<qint64>(r.rssKb));
        event.insert("openFds", static_cast<qint64>(r.openFds));
        std::printf("%s\n", QJsonDocument(event).toJson(QJsonDocument::Compact).constData());
        std::fflush(stdout);
    } else {
        std::fprintf(stderr, "reburn3: run %d of %d: exit %d, VmRSS %ld kB, %ld open files\n", run,
                     options.repeat, code, r.rssKb, r.openFds);
    }
}

}  // namespace

int runFlash(const FlashOptions& options) {
    // One watcher for the whole series, so that Ctrl-C between two runs still ends it
    // cleanly; set up first, so that no signal finds the default action any more.
    SignalWatcher watcher;
    // The script is opened once, before a port is touched; every check and every run of
    // the series reads this open file.
    auto script = std::make_shared<ScriptFile>();
    if (!script->open(resolveScriptPath(options.script))) {
        std::fprintf(stderr, "%s%s\n", std::string(text::kScriptUnreadable).c_str(),
                     options.script.c_str());
        return kExitBadScript;
    }
    int code = kExitCompleted;
    for (int run = 1; run <= options.repeat; ++run) {
        {
            FlashSession session(options, watcher, script);
            code = session.exec();
        }
        const bool last = code != kExitCompleted || run == options.repeat;
        if (options.repeat > 1 && (run % 10 == 0 || last)) {
            reportRepeat(options, run, code);
        }
        if (last) {
            break;
        }
    }
    return code;
}

}  // namespace reburn3::cli
