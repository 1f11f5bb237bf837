// SPDX-License-Identifier: Apache-2.0
#include "run/flash_session.h"

#include <QDateTime>
#include <QJsonObject>
#include <QTimer>

#include <chrono>
#include <optional>

#include "adapters/qt_serial_driver.h"
#include "app/form1.h"
#include "app/startup.h"
#include "base/clock.h"
#include "run/exit_codes.h"
#include "run/handshake_limit.h"
#include "run/port_resolution.h"
#include "run/port_wait.h"
#include "run/precise_tick_timer.h"
#include "run/recording_driver.h"
#include "run/run_desktop.h"
#include "run/run_end.h"
#include "run/run_listener.h"
#include "run/run_stats.h"
#include "run/run_texts.h"
#include "run/run_ticks.h"
#include "run/script_snapshot.h"
#include "run/session_result.h"
#include "run/sha256_digest.h"
#include "run/signal_watcher.h"
#include "run/verdict.h"
#include "script/script_file.h"
#include "script/script_stream.h"
#include "serial/device_loss.h"
#include "serial/port_map.h"

namespace reburn3::run {

namespace {

constexpr double kTickSeconds = 0.005;

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
    Impl(FlashContext& context, PortTask task, RunListener& listener, Finished finished)
        : m_context(context),
          m_options(optionsOf(context.options, task)),
          m_task(std::move(task)),
          m_listener(listener),
          m_done(std::move(finished)),
          m_recorder(m_driver),
          m_desktop(context.options.script),
          m_form(m_recorder, m_desktop, m_clock),
          m_events(listener.portListener(m_task.index, m_task, m_form.state())),
          m_ticks(
              m_form, m_driver, *m_events, context.clock, m_options,
              [this] { m_context.trace.flush(); }, [this](RunReason reason) { finish(reason); }),
          m_wait([this] { openAndRun(); },
                 [this] {
                     m_waitedOut = true;
                     finish(RunReason::PortOpenFailed);
                 }),
          m_settling(m_driver, context.clock, [this](LineSettling::End end) { settled(end); }) {
        // The script opened once for the whole command: every open of its name reads it.
        m_form.script().holdFile(m_options.script, m_context.script);
        checkWith(&m_digest);
        m_recorder.setTickSource([this] { return m_form.engine().tickCount(); });
        m_recorder.setKeepBytes(false);
        if (context.trace.isOpen()) {
            context.trace.restart();
            m_recorder.setTraceSink(context.trace.stream());
        }
        m_desktop.setMessageSink([this](const std::string& text) { m_events->message(text); });
        m_form.window().addListener(m_events.get());
        // The watcher outlives the session: the connection must end with the session, so
        // it is tied to one of its objects.
        QObject::connect(&m_context.watcher, &SignalWatcher::signalled, &m_driver,
                         [this](int) { interrupt(); });
        QObject::connect(&m_driver, &QtSerialDriver::deviceWasLost, [this] { reportLoss(); });
    }
    ~Impl() {
        m_settling.stop();
        m_form.window().removeListener(m_events.get());
    }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    bool prepare() {
        m_startedAt = nowUtc();
        // The port is resolved once for this attempt, and the driver is handed its device
        // in the slot the port dialog will pick: COMn's own, or slot 1 for a path.
        m_task.target = resolvePort(m_task.target);
        m_portNumber = m_task.target.slot;
        m_device = m_task.target.device;
        m_driver.setDevice(m_portNumber, m_device);

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
        m_events->ready(baseResult());
        return true;
    }

    void begin() {
        if (m_finished) {
            return;
        }
        if (m_options.waitForPortSeconds > 0.0 && !portReady(m_device)) {
            m_events->notice(std::string(texts::kWaitingFor) + displayName(m_device) +
                             " (at most " + secondsText(m_options.waitForPortSeconds) + ")");
            m_wait.start(m_device, m_options.waitForPortSeconds);
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
        m_wait.stop();
        m_settling.stop();
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
        const RunEnd end = recordEnd(m_result, m_options, &m_context.log, &m_context.trace, m_extra,
                                     m_task.prefix);
        m_result = m_listener.tell(m_task.index, end, m_toldJson);
    }
    const RunResult& result() const { return m_result; }
    const QJsonObject& told() const { return m_toldJson; }
    const PortTask& task() const { return m_task; }
    const ProgramState& state() const { return m_form.state(); }

private:
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
            m_settling.start(m_portNumber, m_options.retryQuietSeconds,
                             m_options.handshakeLimitSeconds);
            return;
        }
        startRun();
    }

    // --retries: the line before a new attempt's handshake has settled, or never will.
    void settled(LineSettling::End end) {
        if (m_finished) {
            return;
        }
        switch (end) {
            case LineSettling::End::Quiet:
                startRun();
                return;
            case LineSettling::End::DeviceLost:
                finish(RunReason::None);
                return;
            case LineSettling::End::GaveUp:
                m_events->deviceEvent("handshake-limit", m_ticks.handshakeLimit().reason());
                finish(RunReason::HandshakeLimit);
                return;
        }
    }

    void startRun() {
        m_ticks.start();
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

    // Said once, when it happens; the run itself ends at its next failed write or at its
    // receive time-out, as it would in the window.
    void reportLoss() { m_events->deviceEvent("device-lost", deviceLossLine(m_device)); }

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
        m_settling.stop();
        m_ticks.stop();
        RunStats* const stats = m_ticks.stats();
        if (stats != nullptr) {
            const ScriptSummary& summary = m_form.reader().summary();
            stats->runEnded(summary.tickBound(), leastSeconds(summary),
                            m_form.engine().tickCount());
        }
        m_events->runEnded();
        m_form.AbortProgram_Click();
        if (!m_desktop.endRequested()) {
            // Refused because a tick or a write was in progress: cannot happen between
            // ticks, but the port must not stay open whatever happens.
            m_form.window().setTimerEnabled(false);
            m_form.link().ClosePort();
        }
        m_context.trace.flush();
        m_recorder.setTraceSink(nullptr);
        if (stats != nullptr) {
            m_events->statistics(stats->summaryLine());
        }
        QJsonObject extra;
        if (stats != nullptr) {
            extra.insert("stats", stats->toJson());
        }
        extra.insert("reactive", m_options.reactive);
        m_extra = extra;
        m_result = makeResult(reason);
        if (!m_task.mayStartAgain || !mayRetry(m_result) || m_context.watcher.raised()) {
            report();
        }
        const RunResult& result = m_result;
        // Told from the event loop, so that whoever ends the session may delete it.
        QTimer::singleShot(0, m_ticks.context(), [done = m_done, result] { done(result); });
    }

    RunResult baseResult() const {
        RunResult r = m_context.base;
        r.port = m_task.target.text;
        r.device = m_device.empty() ? r.device : m_device;
        r.attempts = m_task.attempt;
        r.attemptReasons = m_task.attemptReasons;
        r.round = m_task.round;
        return r;
    }

    // The run's result as the engine left it, with what the session knows added.
    RunResult makeResult(RunReason reason) {
        SessionFacts facts;
        facts.base = baseResult();
        facts.run = &m_form.engine().result();
        facts.reason = reason;
        facts.requireAck = m_options.requireAck;
        facts.deviceLost = m_driver.deviceLost();
        facts.state = &m_form.state();
        facts.summary = &m_form.reader().summary();
        facts.bytesSent = m_recorder.sentCount();
        facts.bytesReceived = m_recorder.receivedCount();
        facts.ticks = m_form.engine().tickCount();
        facts.durationMs = m_ticks.elapsedMs();
        facts.startedAt = m_startedAt;
        facts.detail = m_detail;
        facts.device = m_device;
        facts.waitedOut = m_waitedOut;
        facts.waitForPortSeconds = m_options.waitForPortSeconds;
        facts.openError = m_openError;
        return assembleResult(facts);
    }

    FlashContext& m_context;
    const FlashOptions m_options;  // the command's, with the board's own tags
    PortTask m_task;
    RunListener& m_listener;
    Finished m_done;
    QtSerialDriver m_driver;
    RecordingDriver m_recorder;
    RunDesktop m_desktop;
    SystemClock m_clock;
    Form1 m_form;
    std::unique_ptr<PortListener> m_events;  // where what the session posts and does is told
    RunTicks m_ticks;
    std::string m_device;
    std::int16_t m_portNumber = kPathSlot;
    Sha256Digest m_digest;
    std::string m_startedAt;
    std::int32_t m_openError = 0;  // the driver's code of a failed open
    std::string m_detail;          // what the session knows of its end beyond the reason
    PortWait m_wait;               // --wait-for-port
    LineSettling m_settling;       // --retries: the quiet line before a new attempt
    bool m_waitedOut = false;
    bool m_finished = false;
    bool m_reported = false;
    QJsonObject m_extra;     // what the JSON result adds: stats, reactive
    QJsonObject m_toldJson;  // the JSON result as told
    RunResult m_result;
};

FlashSession::FlashSession(FlashContext& context, PortTask task, RunListener& listener,
                           Finished finished)
    : m_impl(std::make_unique<Impl>(context, std::move(task), listener, std::move(finished))) {}
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
}  // namespace reburn3::run
