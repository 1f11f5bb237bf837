// SPDX-License-Identifier: Apache-2.0
#include "cli/flash_session.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <optional>

#include "adapters/qt_serial_driver.h"
#include "app/form1.h"
#include "app/startup.h"
#include "base/clock.h"
#include "cli/cli_texts.h"
#include "cli/console_desktop.h"
#include "cli/console_view.h"
#include "cli/exit_codes.h"
#include "cli/handshake_limit.h"
#include "cli/port_diagnosis.h"
#include "cli/port_path.h"
#include "cli/precise_tick_timer.h"
#include "cli/recording_driver.h"
#include "cli/run_report.h"
#include "cli/run_stats.h"
#include "cli/script_snapshot.h"
#include "cli/sha256_digest.h"
#include "cli/signal_watcher.h"
#include "cli/stop_aware_time.h"
#include "cli/verdict.h"
#include "script/script_file.h"
#include "script/script_stream.h"
#include "serial/device_loss.h"
#include "serial/port_map.h"

namespace reburn3::cli {

namespace {

// The port the operator clicks in the port dialog when the command line names a device
// path instead of a COM port: the path then stands for port 1.
constexpr std::int16_t kPathPort = 1;
// How often --wait-for-port looks for the device.
constexpr int kPortPollMs = 50;
constexpr double kTickSeconds = 0.005;

std::string nowUtc() {
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toStdString();
}

// True when `device` exists, opens, as a USB adapter does once it has enumerated, and is
// not held by another process (a lock of its own, or the exclusive mode, EBUSY).
bool portReady(const std::string& device) {
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return !portLocked(device);
}

// The session's own progress: none when quiet, and none on a terminal where a gang
// draws the bars of all its ports together.
ProgressMode progressOf(const FlashOptions& options, const PortTask& task) {
    if (options.quiet || (task.overlay != nullptr && options.progress == ProgressMode::Bar)) {
        return ProgressMode::None;
    }
    return options.progress;
}

FlashOptions optionsOf(const FlashOptions& options, const PortTask& task) {
    FlashOptions own = options;
    if (task.tags) {
        own.tags = *task.tags;
    }
    return own;
}

}  // namespace

bool mayRetry(const RunResult& r) {
    return r.outcome == RunOutcome::DeviceFailed && !r.partlyProgrammed && !r.deviceLost &&
           r.reason != RunReason::Interrupted;
}

class FlashSession::Impl {
public:
    Impl(FlashContext& context, PortTask task, Finished finished)
        : m_context(context),
          m_options(optionsOf(context.options, task)),
          m_task(std::move(task)),
          m_done(std::move(finished)),
          m_recorder(m_driver),
          m_desktop(context.options.script),
          m_form(m_recorder, m_desktop, m_clock),
          m_view(m_form.state(), context.options.json, progressOf(context.options, m_task)),
          m_timer(m_form, context.clock),
          m_handshakeLimit(context.options.handshakeLimitSeconds) {
        // The script opened once for the whole command: every open of its name reads it.
        m_form.script().holdFile(m_options.script, m_context.script);
        checkWith(&m_digest);
        m_recorder.setTickSource([this] { return m_form.engine().tickCount(); });
        m_recorder.setKeepBytes(false);
        if (context.trace.isOpen()) {
            context.trace.restart();
            m_recorder.setTraceSink(context.trace.stream());
        }
        m_view.setQuiet(m_options.quiet);
        m_desktop.setBeforeMessage([this] { m_view.writeHeld(); });
        m_view.setOverlay(m_task.overlay);
        if (!m_task.prefix.empty()) {
            m_view.setPort(m_task.port, m_task.prefix);
        }
        m_form.window().addListener(&m_view);
        // What a tick posts is written when the tick is over (ConsoleView::hold).
        QObject::connect(&m_timer, &PreciseTickTimer::arriving, [this] { m_view.hold(); });
        QObject::connect(&m_timer, &PreciseTickTimer::ticked, [this] {
            m_view.release();
            afterTick();
            m_context.trace.flush();
        });
        // The watcher outlives the session: the connection must end with the session, so
        // it is tied to one of its objects.
        QObject::connect(&m_context.watcher, &SignalWatcher::signalled, &m_driver,
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
        m_waitTimer.setInterval(kPortPollMs);
        QObject::connect(&m_waitTimer, &QTimer::timeout, [this] { lookForPort(); });
    }
    ~Impl() {
        stopSettling();
        m_form.window().removeListener(&m_view);
    }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    bool prepare() {
        m_startedAt = nowUtc();
        m_portNumber = kPathPort;
        if (const std::optional<int> com = parseComName(m_task.port)) {
            m_portNumber = static_cast<std::int16_t>(*com);
        } else {
            m_driver.setDevice(kPathPort, resolvePortPath(m_task.port));
        }
        m_device = m_driver.device(m_portNumber);

        MainStartUp(m_form, "");
        // The command's first check also takes its copy of the script; every later
        // check reads that copy.
        ScriptSnapshot* const copying = m_context.snapshot;
        if (copying != nullptr) {
            checkWith(copying);
        }
        m_form.SelectInputFile_Click();
        checkWith(&m_digest);
        if (checkInterrupted()) {
            return false;
        }
        if (m_form.state().FileMode != 1) {
            finish(RunReason::ScriptUnreadable);
            return false;
        }
        if (copying != nullptr && m_form.reader().summary().ok() && !playTheCopy(*copying)) {
            return false;
        }
        // A script with faults has had them posted; it would be refused at the start of
        // the run, so the port is not even opened. The digest comes from the check's
        // own pass over the file, refused or not.
        m_context.base.sha256 = m_form.reader().summary().digest;
        if (!m_form.reader().summary().ok()) {
            finish(RunReason::ScriptRefused);
            return false;
        }
        if (!m_options.expectSha256.empty() && m_context.base.sha256 != m_options.expectSha256) {
            finish(RunReason::ScriptMismatch);
            return false;
        }
        if (!m_options.quiet && m_task.attempt == 1) {
            std::fprintf(stderr, "%s%s\n", m_task.prefix.c_str(), headerLine(baseResult()).c_str());
            std::fflush(stderr);
        }
        return true;
    }

    void begin() {
        if (m_finished) {
            return;
        }
        if (m_options.waitForPortSeconds > 0.0 && !portReady(m_device)) {
            m_view.printNotice(std::string(texts::kWaitingFor) + displayName(m_device) +
                               " (at most " + seconds(m_options.waitForPortSeconds) + ")");
            m_waitClock.start();
            m_waitTimer.start();
            return;
        }
        openAndRun();
    }

    void endUnstarted(RunReason reason) { finish(reason); }

    // Ctrl-C, SIGTERM or SIGHUP: abort the run as "Abort Process" would, then leave.
    void interrupt() {
        if (m_finished) {
            return;
        }
        m_waitTimer.stop();
        stopSettling();
        if (m_form.state().ProgramMode != 0) {
            m_form.ProgramFlash_Click();
        }
        finish(RunReason::Interrupted);
    }

    bool finished() const { return m_finished; }
    bool reported() const { return m_reported; }
    void report() {
        if (m_reported) {
            return;
        }
        m_reported = true;
        m_result = reportEnd(m_result, m_options, &m_context.log, m_extra, m_task.prefix, &m_told,
                             &m_context.trace);
    }
    const RunResult& result() const { return m_result; }
    const QJsonObject& told() const { return m_told; }
    const PortTask& task() const { return m_task; }
    const ProgramState& state() const { return m_form.state(); }
    ConsoleView& view() { return m_view; }

private:
    static std::string seconds(double s) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%g s", s);
        return buf;
    }

    void checkWith(ScriptDigest* digest) {
        CheckOptions check;
        check.lineBaud = m_options.lineBaud;
        check.digest = digest;
        check.stopRequested = [this] { return m_context.watcher.raised(); };
        m_form.reader().setCheckOptions(std::move(check));
    }

    // From now on the command's checks and runs read the copy its first check wrote:
    // the bytes checked and hashed are the bytes played, whatever the file on disk does.
    bool playTheCopy(ScriptSnapshot& copying) {
        std::string error;
        std::shared_ptr<ScriptFile> copy = copying.finish(error);
        if (!copy) {
            // No room left for the copy is the machine's fault, not the script's.
            m_detail = std::string(texts::kNoScriptCopy) + error;
            finish(RunReason::OutputUnwritable);
            return false;
        }
        m_context.script = copy;
        m_context.snapshot = nullptr;
        m_form.script().holdFile(m_options.script, std::move(copy));
        return true;
    }

    // --wait-for-port: the device is looked for until it opens or the time is up.
    void lookForPort() {
        if (portReady(m_device)) {
            m_waitTimer.stop();
            openAndRun();
            return;
        }
        if (static_cast<double>(m_waitClock.elapsed()) >= m_options.waitForPortSeconds * 1000.0) {
            m_waitTimer.stop();
            m_waitedOut = true;
            finish(RunReason::PortOpenFailed);
        }
    }

    void openAndRun() {
        m_form.ConfigComPort_Click();
        m_form.ComxBtn_Click(m_portNumber);
        m_form.Initialize_Click();
        if (m_form.state().PortOpen == kFalse) {
            m_openError = m_form.state().LastError;
            finish(RunReason::PortOpenFailed);
            return;
        }
        if (m_task.attempt > 1) {
            settle();
            return;
        }
        startRun();
    }

    // --retries: a new attempt starts clean. An answer to an earlier attempt's handshake
    // may still be on its way (a device that answers late); taken now, it would pass for
    // this attempt's answer. So what the port holds is discarded, and the handshake
    // starts only once the line has stayed quiet for --retry-quiet (2 s by default), the
    // wait starting again at every byte: an answer later than the handshake's own window
    // (270 ms) by less than that arrives during the wait and is dropped with it. A line
    // that never goes quiet is given up once it has been given the handshake limit on top
    // of the quiet time, as a handshake that never ends is. Time the process spent stopped
    // counts for neither.
    void settle() {
        m_driver.FlushReceiveBuffer(m_portNumber);
        const auto now = std::chrono::steady_clock::now();
        m_quietTime.start(now);
        m_settleTime.start(now);
        m_settling = true;
        if (m_context.clock != nullptr) {
            QObject::connect(m_context.clock, &TickClock::expired, &m_settleTimer,
                             [this] { settleTick(); });
            m_context.clock->acquire();
        } else {
            QObject::connect(&m_settleTimer, &QTimer::timeout, [this] { settleTick(); });
            m_settleTimer.start(WindowModel::kTimerInterval);
        }
    }

    void stopSettling() {
        if (!m_settling) {
            return;
        }
        m_settling = false;
        m_settleTimer.stop();
        if (m_context.clock != nullptr) {
            QObject::disconnect(m_context.clock, nullptr, &m_settleTimer, nullptr);
            m_context.clock->release();
        }
    }

    void settleTick() {
        if (!m_settling || m_finished) {
            return;
        }
        // Bounded per tick, so that a device that floods the line cannot hold the loop.
        constexpr int kMostPerTick = 4096;
        bool heard = false;
        for (int i = 0; i < kMostPerTick && m_driver.IsReceiveBufferEmpty(m_portNumber) == 0; ++i) {
            m_driver.GetByte(m_portNumber);
            heard = true;
        }
        if (m_driver.deviceLost()) {
            stopSettling();
            finish(RunReason::None);
            return;
        }
        const auto now = std::chrono::steady_clock::now();
        if (heard) {
            m_quietTime.start(now);
        }
        const std::chrono::duration<double> quiet = m_quietTime.elapsed(now);
        if (quiet.count() >= m_options.retryQuietSeconds) {
            stopSettling();
            startRun();
            return;
        }
        const double limit = m_options.handshakeLimitSeconds;
        const std::chrono::duration<double> settling = m_settleTime.elapsed(now);
        if (limit > 0.0 && settling.count() >= limit + m_options.retryQuietSeconds) {
            stopSettling();
            printEvent("handshake-limit", m_handshakeLimit.reason());
            finish(RunReason::HandshakeLimit);
        }
    }

    void startRun() {
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
        if (!m_finished && m_handshakeLimit.exceeded(std::chrono::steady_clock::now(),
                                                     m_form.state().ProgramMode)) {
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
            m_view.hold();
            m_form.engine().reactiveStep();
            m_view.release();
        }
        checkEnd();
    }

    void checkEnd() {
        if (!m_finished && m_form.engine().outcome() != RunOutcome::None &&
            m_form.state().ProgramMode == 0) {
            finish(RunReason::None);
        }
    }

    void printEvent(const char* name, const std::string& text) {
        if (m_options.json) {
            QJsonObject event;
            event.insert("type", "event");
            event.insert("event", name);
            event.insert("text", QString::fromStdString(text));
            m_view.printJson(event);
        } else {
            m_view.printNotice(text);
        }
    }

    // Said once, when it happens; the run itself ends at its next failed write or at its
    // receive time-out, as it would in the window.
    void reportLoss() { printEvent("device-lost", deviceLossLine(m_device)); }

    // A device that never goes quiet: say why, abort the run as "Abort Process" would,
    // and fail.
    void giveUpHandshake() {
        printEvent("handshake-limit", m_handshakeLimit.reason());
        m_form.ProgramFlash_Click();
        finish(RunReason::HandshakeLimit);
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

    // Closes the script and the port as "Exit / Abort" does and reports the end.
    // `reason` is the session's own, for an end that no run decided (None: the run's).
    void finish(RunReason reason) {
        if (m_finished) {
            return;
        }
        m_finished = true;
        stopSettling();
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
            std::fprintf(stderr, "%s%s\n", m_task.prefix.c_str(), m_stats->summaryLine().c_str());
        }
        QJsonObject extra;
        if (m_stats) {
            extra.insert("stats", m_stats->toJson());
        }
        extra.insert("reactive", m_options.reactive);
        m_extra = extra;
        m_result = makeResult(reason);
        if (!m_task.mayStartAgain || !mayRetry(m_result) || m_context.watcher.raised()) {
            report();
        }
        const RunResult& result = m_result;
        // Told from the event loop, so that whoever ends the session may delete it.
        QTimer::singleShot(0, &m_timer, [done = m_done, result] { done(result); });
    }

    RunResult baseResult() const {
        RunResult r = m_context.base;
        r.port = m_task.port;
        r.device = m_device.empty() ? r.device : m_device;
        r.attempts = m_task.attempt;
        r.attemptReasons = m_task.attemptReasons;
        r.round = m_task.round;
        return r;
    }

    // The run's result as the engine left it, with what the session knows added.
    RunResult makeResult(RunReason reason) {
        RunResult r = baseResult();
        const RunResult& run = m_form.engine().result();
        r.outcome = run.outcome;
        r.reason = run.reason;
        r.failedRecord = run.failedRecord;
        r.scriptLine = run.scriptLine;
        r.expected = run.expected;
        r.received = run.received;
        r.partlyProgrammed = run.partlyProgrammed;
        r.bytesUnacknowledged = run.bytesUnacknowledged;
        r.deliveryConfirmed = run.outcome == RunOutcome::Completed && run.deliveryConfirmed;
        const bool ran = run.outcome != RunOutcome::None && run.outcome != RunOutcome::Running;
        if (reason == RunReason::HandshakeLimit) {
            // Ended by the session, not by the device's answer: a failure all the same.
            r.outcome = RunOutcome::DeviceFailed;
            r.reason = reason;
        } else if (reason != RunReason::None && (!ran || reason == RunReason::Interrupted)) {
            r.reason = reason;
        }
        if (m_options.requireAck && r.outcome == RunOutcome::Completed &&
            r.bytesUnacknowledged > 0) {
            // --require-ack: a download the device did not answer for to its last byte is
            // not proven, whatever the port did with those bytes.
            r.outcome = RunOutcome::DeviceFailed;
            r.reason = RunReason::Unacknowledged;
            r.partlyProgrammed = true;
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
        r.startedAt = m_startedAt.empty() ? r.startedAt : m_startedAt;
        if (!m_detail.empty()) {
            r.detail = m_detail;
        } else if (m_waitedOut && portLocked(m_device)) {
            r.detail = displayName(m_device) + " is held by " +
                       portHolder(m_device, static_cast<int>(::getpid())) +
                       std::string(texts::kNotReleased) + seconds(m_options.waitForPortSeconds);
        } else if (m_waitedOut) {
            r.detail = displayName(m_device) + std::string(texts::kDidNotAppear) +
                       seconds(m_options.waitForPortSeconds);
        } else if (r.reason == RunReason::PortOpenFailed) {
            r.detail = diagnosePort(m_task.port, r.device, m_openError);
        }
        r.endedAt = nowUtc();
        r.exitCode = exitCodeFor(r);
        return r;
    }

    FlashContext& m_context;
    const FlashOptions m_options;  // the command's, with the board's own tags
    PortTask m_task;
    Finished m_done;
    QtSerialDriver m_driver;
    RecordingDriver m_recorder;
    ConsoleDesktop m_desktop;
    SystemClock m_clock;
    Form1 m_form;
    ConsoleView m_view;
    PreciseTickTimer m_timer;
    std::unique_ptr<RunStats> m_stats;
    std::string m_device;
    std::int16_t m_portNumber = kPathPort;
    Sha256Digest m_digest;
    HandshakeLimit m_handshakeLimit;
    std::string m_startedAt;
    std::int32_t m_openError = 0;  // the driver's code of a failed open
    std::string m_detail;          // what the session knows of its end beyond the reason
    QTimer m_waitTimer;
    QElapsedTimer m_waitClock;
    // --retries: the quiet line awaited before a new attempt's handshake.
    QTimer m_settleTimer;
    StopAwareTime m_settleTime;
    StopAwareTime m_quietTime;
    bool m_settling = false;
    bool m_waitedOut = false;
    bool m_finished = false;
    bool m_reported = false;
    QJsonObject m_extra;  // what the JSON result adds: stats, reactive
    QJsonObject m_told;   // the JSON result as told
    RunResult m_result;
};

FlashSession::FlashSession(FlashContext& context, PortTask task, Finished finished)
    : m_impl(std::make_unique<Impl>(context, std::move(task), std::move(finished))) {}
FlashSession::~FlashSession() = default;
bool FlashSession::prepare() {
    return m_impl->prepare();
}
void FlashSession::begin() {
    m_impl->begin();
}
void FlashSession::endUnstarted(RunReason reason) {
    m_impl->endUnstarted(reason);
}
void FlashSession::interrupt() {
    m_impl->interrupt();
}
const QJsonObject& FlashSession::told() const {
    return m_impl->told();
}
bool FlashSession::finished() const {
    return m_impl->finished();
}
bool FlashSession::reported() const {
    return m_impl->reported();
}
void FlashSession::report() {
    m_impl->report();
}
const RunResult& FlashSession::result() const {
    return m_impl->result();
}
const PortTask& FlashSession::task() const {
    return m_impl->task();
}
const ProgramState& FlashSession::state() const {
    return m_impl->state();
}
ConsoleView& FlashSession::view() {
    return m_impl->view();
}

}  // namespace reburn3::cli
