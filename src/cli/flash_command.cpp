#include "cli/flash_command.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstring>
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
#include "cli/json_result.h"
#include "cli/output_files.h"
#include "cli/port_diagnosis.h"
#include "cli/port_path.h"
#include "cli/precise_tick_timer.h"
#include "cli/recording_driver.h"
#include "cli/run_report.h"
#include "cli/run_stats.h"
#include "cli/script_problem.h"
#include "cli/sha256_digest.h"
#include "cli/signal_watcher.h"
#include "cli/verdict.h"
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

std::string absolutePath(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

std::string nowUtc() {
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toStdString();
}

std::string versionText() {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%d.%02d", text::kVersionMajor, text::kVersionMinor);
    return buf;
}

// The device a --port value stands for: the mapped device of COMn, else the path.
std::string resolvedDevice(const std::string& port) {
    if (const std::optional<int> com = parseComName(port)) {
        return portDevice(*com);
    }
    return resolvePortPath(port);
}

// What every download shares before it starts: the names, the version and the files
// it writes besides its output.
struct FlashContext {
    const FlashOptions& options;
    RunResult base;  // version, port, device, script and its SHA-256
    AppendLog log;
    TraceFile trace;
};

RunResult baseResult(const FlashOptions& options) {
    RunResult r;
    r.version = versionText();
    r.port = options.port;
    r.device = resolvedDevice(options.port);
    r.script = options.script.empty() ? std::string() : absolutePath(options.script);
    r.startedAt = nowUtc();
    return r;
}

// A command that ends before its session: nothing was sent.
int endBeforeRun(RunResult result, RunReason reason, const std::string& detail,
                 const FlashOptions& options, AppendLog* log) {
    result.reason = reason;
    result.detail = detail;
    result.endedAt = nowUtc();
    result.exitCode = exitCodeFor(result);
    reportEnd(result, options, log);
    return result.exitCode;
}

class FlashSession {
public:
    FlashSession(FlashContext& context, SignalWatcher& watcher, std::shared_ptr<ScriptFile> script)
        : m_context(context),
          m_options(context.options),
          m_recorder(m_driver),
          m_desktop(context.options.script),
          m_form(m_recorder, m_desktop, m_clock),
          m_view(m_form.state(), context.options.json,
                 context.options.quiet ? ProgressMode::None : context.options.progress),
          m_timer(m_form),
          m_signals(watcher),
          m_handshakeLimit(context.options.handshakeLimitSeconds) {
        // The script opened once for the whole command: every open of its name reads it.
        m_form.script().holdFile(context.options.script, std::move(script));
        CheckOptions check;
        check.lineBaud = context.options.lineBaud;
        check.digest = &m_digest;
        check.stopRequested = [this] { return m_signals.raised(); };
        m_form.reader().setCheckOptions(std::move(check));
        m_recorder.setTickSource([this] { return m_form.engine().tickCount(); });
        m_recorder.setKeepBytes(false);
        if (context.trace.isOpen()) {
            context.trace.restart();
            m_recorder.setTraceSink(context.trace.stream());
        }
        m_view.setQuiet(context.options.quiet);
        m_form.window().addListener(&m_view);
        QObject::connect(&m_timer, &PreciseTickTimer::ticked, [this] {
            afterTick();
            m_context.trace.flush();
        });
        // The watcher outlives the session (it serves a whole --repeat series): the
        // connection must end with the session, so it is tied to one of its objects.
        QObject::connect(&m_signals, &SignalWatcher::signalled, &m_driver,
                         [this](int) { interrupt(); });
        QObject::connect(&m_driver, &QtSerialDriver::deviceWasLost, [this] { reportLoss(); });
        if (m_options.reactive) {
            QObject::connect(&m_driver, &QtSerialDriver::bytesArrived, &m_driver,
                             [this] { react(); });
        }
        if (m_options.stats) {
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
        m_startedAt = nowUtc();
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
            finish(RunReason::ScriptUnreadable);
            return;
        }
        // A script with faults has had them posted; it would be refused at the start of
        // the run, so the port is not even opened.
        // The digest comes from the check's own pass over the file, refused or not.
        m_context.base.sha256 = m_form.reader().summary().digest;
        if (!m_form.reader().summary().ok()) {
            finish(RunReason::ScriptRefused);
            return;
        }
        if (!m_options.expectSha256.empty() && m_context.base.sha256 != m_options.expectSha256) {
            finish(RunReason::ScriptMismatch);
            return;
        }
        if (!m_options.quiet) {
            std::fprintf(stderr, "%s\n", headerLine(m_context.base).c_str());
            std::fflush(stderr);
        }

        m_form.ConfigComPort_Click();
        m_form.ComxBtn_Click(port);
        m_form.Initialize_Click();
        if (m_form.state().PortOpen == kFalse) {
            m_openError = m_form.state().LastError;
            finish(RunReason::PortOpenFailed);
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
            finish(RunReason::None);
        }
    }

    // A signal that came during a whole-file check stopped it: the session ends as
    // interrupted, with nothing sent.
    bool checkInterrupted() {
        if (!m_form.reader().summary().interrupted) {
            return false;
        }
        finish(RunReason::Interrupted);
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
            finish(RunReason::None);
        }
    }

    // Said once, when it happens; the run itself ends at its next failed write or at its
    // receive time-out, as it would in the window.
    void reportLoss() {
        const std::string text = deviceLossLine(m_device);
        if (m_options.json) {
            QJsonObject event;
            event.insert("type", "event");
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
        const std::string text = m_handshakeLimit.reason();
        if (m_options.json) {
            QJsonObject event;
            event.insert("type", "event");
            event.insert("event", "handshake-limit");
            event.insert("text", QString::fromStdString(text));
            m_view.printJson(event);
        } else {
            m_view.printNotice(text);
        }
        m_form.ProgramFlash_Click();
        finish(RunReason::HandshakeLimit);
    }

    // Ctrl-C, SIGTERM or SIGHUP: abort the run as "Abort Process" would, then leave.
    void interrupt() {
        if (m_finished) {
            return;
        }
        if (m_form.state().ProgramMode != 0) {
            m_form.ProgramFlash_Click();
        }
        finish(RunReason::Interrupted);
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

    // Closes the script and the port as "Exit / Abort" does, reports the end and ends
    // the event loop with its exit code. `reason` is the session's own, for an end that
    // no run decided (None: the run's).
    void finish(RunReason reason) {
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
        m_context.trace.flush();
        m_recorder.setTraceSink(nullptr);
        if (m_stats) {
            std::fprintf(stderr, "%s\n", m_stats->summaryLine().c_str());
        }
        const RunResult result = makeResult(reason);
        QJsonObject extra;
        if (m_stats) {
            extra.insert("stats", m_stats->toJson());
        }
        extra.insert("reactive", m_options.reactive);
        reportEnd(result, m_options, &m_context.log, extra);
        QCoreApplication::exit(result.exitCode);
    }

    // The run's result as the engine left it, with what the session knows added.
    RunResult makeResult(RunReason reason) {
        RunResult r = m_context.base;
        const RunResult& run = m_form.engine().result();
        r.outcome = run.outcome;
        r.reason = run.reason;
        r.failedRecord = run.failedRecord;
        r.scriptLine = run.scriptLine;
        r.expected = run.expected;
        r.received = run.received;
        r.partlyProgrammed = run.partlyProgrammed;
        const bool ran = run.outcome != RunOutcome::None && run.outcome != RunOutcome::Running;
        if (reason == RunReason::HandshakeLimit) {
            // Ended by the session, not by the device's answer: a failure all the same.
            r.outcome = RunOutcome::DeviceFailed;
            r.reason = reason;
        } else if (reason != RunReason::None && (!ran || reason == RunReason::Interrupted)) {
            r.reason = reason;
        }
        r.deviceLost = m_driver.deviceLost();
        if (r.deviceLost && r.outcome != RunOutcome::Completed) {
            r.reason = RunReason::DeviceLost;
        }
        const ProgramState& s = m_form.state();
        const ScriptSummary& summary = m_form.reader().summary();
        r.records = static_cast<std::uint64_t>(std::max(s.RecordsTotal, 0));
        r.recordsDone = static_cast<std::uint64_t>(std::max(s.RecordsDone, 0));
        r.scriptLines = summary.lines;
        r.bytesToSend = summary.txBytes;
        r.bytesToVerify = summary.rxBytes;
        r.bytesSent = m_recorder.sentCount();
        r.bytesReceived = m_recorder.receivedCount();
        r.ticks = m_form.engine().tickCount();
        r.durationMs = m_view.elapsedMs();
        r.device = m_device.empty() ? r.device : m_device;
        r.startedAt = m_startedAt.empty() ? r.startedAt : m_startedAt;
        if (r.reason == RunReason::PortOpenFailed) {
            r.detail = diagnosePort(m_options.port, r.device, m_openError);
        }
        r.endedAt = nowUtc();
        r.exitCode = exitCodeFor(r);
        return r;
    }

    FlashContext& m_context;
    const FlashOptions& m_options;
    QtSerialDriver m_driver;
    RecordingDriver m_recorder;
    ConsoleDesktop m_desktop;
    SystemClock m_clock;
    Form1 m_form;
    ConsoleView m_view;
    PreciseTickTimer m_timer;
    SignalWatcher& m_signals;
    std::unique_ptr<RunStats> m_stats;
    std::string m_device;
    Sha256Digest m_digest;
    HandshakeLimit m_handshakeLimit;
    std::string m_startedAt;
    std::int32_t m_openError = 0;  // the driver's code of a failed open
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
        event.insert("type", "event");
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

void reportNotStarted(RunReason reason, const std::string& detail, const FlashOptions& options) {
    endBeforeRun(baseResult(options), reason, detail, options, nullptr);
}

int runFlash(const FlashOptions& options) {
    // One watcher for the whole series, so that Ctrl-C between two runs still ends it
    // cleanly; set up first, so that no signal finds the default action any more.
    SignalWatcher watcher;
    FlashContext context{options, baseResult(options), {}, {}};
    std::string error;
    // The files written besides the output, before the port is touched.
    if (!options.logPath.empty() && !context.log.open(options.logPath, error)) {
        return endBeforeRun(
            context.base, RunReason::OutputUnwritable,
            "cannot write the log file " + displayName(options.logPath) + ": " + error, options,
            nullptr);
    }
    if (!options.tracePath.empty() && !context.trace.open(options.tracePath, error)) {
        return endBeforeRun(
            context.base, RunReason::OutputUnwritable,
            "cannot write the trace file " + displayName(options.tracePath) + ": " + error, options,
            &context.log);
    }
    // The script is opened once, before a port is touched; every check and every run of
    // the series reads this open file.
    auto script = std::make_shared<ScriptFile>();
    if (!script->open(resolveScriptPath(options.script))) {
        std::fprintf(stderr, "%s%s\n", std::string(text::kScriptUnreadable).c_str(),
                     displayName(options.script).c_str());
        return endBeforeRun(context.base, RunReason::ScriptUnreadable,
                            scriptOpenProblem(options.script), options, &context.log);
    }
    int code = kExitCompleted;
    for (int run = 1; run <= options.repeat; ++run) {
        {
            FlashSession session(context, watcher, script);
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
