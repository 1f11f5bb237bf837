// SPDX-License-Identifier: Apache-2.0
#include "run/port_gang.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <utility>

#include "serial/port_map.h"

#include "run/exit_codes.h"
#include "run/output_files.h"
#include "run/port_resolution.h"
#include "run/run_end.h"
#include "run/run_listener.h"
#include "run/run_texts.h"
#include "run/signal_watcher.h"
#include "run/verdict.h"

namespace reburn3::run {

class PortGang::Loop : public QEventLoop {};

PortGang::PortGang(FlashContext& context, const std::vector<std::string>& ports, int round,
                   RunListener& listener)
    : m_context(context),
      m_ports(ports),
      m_round(round),
      m_sessions(ports.size()),
      m_results(ports.size()),
      m_ended(ports.size(), false),
      m_listener(listener),
      m_loop(std::make_unique<Loop>()) {}

PortGang::~PortGang() = default;

std::string PortGang::prefixOf(const std::string& port) {
    return "[" + resolvePort(port).display + "] ";
}

std::vector<RunResult> PortGang::run() {
    m_left = m_ports.size();
    m_listener.roundStarting(m_context.options, m_ports.size());
    QObject::connect(&m_context.watcher, &SignalWatcher::signalled, m_loop.get(),
                     [this](int) { m_interrupted = true; });
    QTimer::singleShot(0, m_loop.get(), [this] {
        // A log that cannot take this round's lines ends it before any port opens.
        if (!logCanTakeTheRound()) {
            return;
        }
        // The first port checks the script; the others start only if it passed.
        startPort(0, 1);
        if (m_sessions[0]->finished()) {
            for (std::size_t i = 1; i < m_ports.size(); ++i) {
                endWithoutRun(i, m_sessions[0]->result().reason);
            }
            return;
        }
        startNextPort(1);
    });
    m_loop->exec();
    m_listener.roundOver();
    m_sessions.clear();
    return m_results;
}

// Each further port starts in a turn of the event loop of its own: opening a port and
// checking the script take a few milliseconds a port, and the ports already running keep
// their ticks in between instead of waiting for every other port to be set up.
void PortGang::startNextPort(std::size_t index) {
    if (index >= m_ports.size()) {
        m_listener.everyPortStarted();
        return;
    }
    startPort(index, 1);
    QTimer::singleShot(0, m_loop.get(), [this, index] { startNextPort(index + 1); });
}

void PortGang::startPort(std::size_t index, int attempt, std::vector<std::string> reasons) {
    const std::string& port = m_ports[index];
    const std::string prefix = m_ports.size() > 1 ? prefixOf(port) : std::string();
    PortTask task{parsePortTarget(port),
                  prefix,
                  attempt,
                  std::move(reasons),
                  attempt <= m_context.options.retries,
                  m_round,
                  index,
                  std::nullopt};
    if (index < m_boardTags.size()) {
        task.tags = m_boardTags[index];
    }
    m_sessions[index] = std::make_unique<FlashSession>(
        m_context, task, m_listener, [this, index](const RunResult& r) { portEnded(index, r); });
    FlashSession& session = *m_sessions[index];
    m_listener.portStarted(index, session);
    if (m_context.watcher.raised() || m_interrupted) {
        session.endUnstarted(RunReason::Interrupted);
        return;
    }
    if (session.prepare()) {
        session.begin();
    }
}

void PortGang::abort() {
    m_interrupted = true;
    for (const std::unique_ptr<FlashSession>& session : m_sessions) {
        if (session && !session->finished()) {
            session->interrupt();
        }
    }
}

bool PortGang::logCanTakeTheRound() {
    AppendLog& log = m_context.log;
    std::string error;
    if (!log.isOpen() ||
        log.canTake(worstLogLine(m_context.base, m_context.options) * m_ports.size(), error)) {
        return true;
    }
    const std::string detail =
        std::string(texts::kLogCannotTake) + displayName(m_context.options.logPath) + ": " + error;
    for (std::size_t i = 0; i < m_ports.size(); ++i) {
        endWithoutRun(i, RunReason::OutputUnwritable, detail);
    }
    return false;
}

// A port that is not even opened: the first port's check refused the script, the log
// cannot take its line, or a signal stopped it. Its end is told as any other (except
// to a log that cannot take it).
void PortGang::endWithoutRun(std::size_t index, RunReason reason, const std::string& detail) {
    RunResult r = m_context.base;
    // Its port resolved as a session would resolve it.
    const PortTarget target = resolvePort(m_ports[index]);
    r.port = target.text;
    r.device = target.device;
    r.round = m_round;
    r.reason = reason;
    r.detail = detail;
    r.endedAt = r.startedAt;
    r.exitCode = exitCodeFor(r);
    AppendLog* log = reason == RunReason::OutputUnwritable ? nullptr : &m_context.log;
    const std::string prefix = m_ports.size() > 1 ? prefixOf(m_ports[index]) : std::string();
    FlashOptions options = m_context.options;
    if (index < m_boardTags.size()) {
        options.tags = m_boardTags[index];
    }
    QJsonObject told;
    m_results[index] =
        m_listener.tell(index, recordEnd(r, options, log, nullptr, {}, prefix), told);
    m_ended[index] = true;
    m_listener.portEnded(index, m_results[index], told);
    if (--m_left == 0) {
        m_loop->quit();
    }
}

void PortGang::portEnded(std::size_t index, const RunResult& result) {
    FlashSession& session = *m_sessions[index];
    if (!session.reported()) {
        // The session held its end back for another attempt.
        if (!m_interrupted && !m_context.watcher.raised()) {
            const int attempt = session.task().attempt;
            std::vector<std::string> reasons = session.task().attemptReasons;
            reasons.emplace_back(reasonWord(result));
            const std::string prefix =
                m_ports.size() > 1 ? prefixOf(m_ports[index]) : std::string();
            m_listener.retry({index, m_ports[index], prefix, attempt, m_context.options.retries + 1,
                              reasons.back()});
            m_ended[index] = false;
            startPort(index, attempt + 1, std::move(reasons));
            return;
        }
        session.report();
    }
    m_results[index] = session.result();
    m_ended[index] = true;
    m_listener.portEnded(index, m_results[index], session.told());
    if (--m_left == 0) {
        m_loop->quit();
    }
}

}  // namespace reburn3::run
