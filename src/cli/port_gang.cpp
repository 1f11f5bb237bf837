// SPDX-License-Identifier: Apache-2.0
#include "cli/port_gang.h"

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

#include "cli/cli_texts.h"
#include "cli/exit_codes.h"
#include "cli/gang_progress.h"
#include "cli/output_files.h"
#include "cli/port_path.h"
#include "cli/run_report.h"
#include "cli/signal_watcher.h"
#include "cli/verdict.h"

namespace reburn3::cli {

class PortGang::Loop : public QEventLoop {};

PortGang::PortGang(FlashContext& context, const std::vector<std::string>& ports, int round)
    : m_context(context),
      m_ports(ports),
      m_round(round),
      m_sessions(ports.size()),
      m_results(ports.size()),
      m_ended(ports.size(), false),
      m_loop(std::make_unique<Loop>()) {
    const FlashOptions& o = context.options;
    if (m_ports.size() > 1 && o.progress == ProgressMode::Bar && !o.quiet) {
        m_progress = std::make_unique<GangProgress>();
    }
}

PortGang::~PortGang() = default;

std::string PortGang::prefixOf(const std::string& port) {
    return "[" + displayName(port) + "] ";
}

std::vector<RunResult> PortGang::run() {
    m_left = m_ports.size();
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
    if (m_progress) {
        m_progress->stop();
    }
    m_sessions.clear();
    return m_results;
}

// Each further port starts in a turn of the event loop of its own: opening a port and
// checking the script take a few milliseconds a port, and the ports already running keep
// their ticks in between instead of waiting for every other port to be set up.
void PortGang::startNextPort(std::size_t index) {
    if (index >= m_ports.size()) {
        if (m_progress) {
            m_progress->start();
        }
        return;
    }
    startPort(index, 1);
    QTimer::singleShot(0, m_loop.get(), [this, index] { startNextPort(index + 1); });
}

void PortGang::startPort(std::size_t index, int attempt, std::vector<std::string> reasons) {
    const std::string& port = m_ports[index];
    const std::string prefix = m_ports.size() > 1 ? prefixOf(port) : std::string();
    PortTask task{port,
                  prefix,
                  attempt,
                  std::move(reasons),
                  attempt <= m_context.options.retries,
                  m_round,
                  m_progress.get(),
                  std::nullopt};
    if (index < m_boardTags.size()) {
        task.tags = m_boardTags[index];
    }
    m_sessions[index] = std::make_unique<FlashSession>(
        m_context, task, [this, index](const RunResult& r) { portEnded(index, r); });
    FlashSession& session = *m_sessions[index];
    if (m_observer != nullptr) {
        m_observer->portStarted(index, session);
    }
    if (m_progress) {
        m_progress->setRow(index, prefix, &session.state(), &session.view());
    }
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
    r.port = m_ports[index];
    if (const std::optional<int> com = parseComName(r.port)) {
        r.device = portDevice(*com);
    } else {
        r.device = resolvePortPath(r.port);
    }
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
    m_results[index] = reportEnd(r, options, log, {}, prefix, &told);
    m_ended[index] = true;
    if (m_observer != nullptr) {
        m_observer->portEnded(index, m_results[index], told);
    }
    if (--m_left == 0) {
        m_loop->quit();
    }
}

// A failed attempt that is tried again is told in one plain line, not as a verdict.
void PortGang::announceRetry(std::size_t index, int failed, const std::string& reason) {
    const int of = m_context.options.retries + 1;
    const int attempt = failed + 1;
    if (m_context.options.json) {
        QJsonObject event;
        event.insert("type", "event");
        event.insert("event", "retry");
        event.insert("port", QString::fromStdString(m_ports[index]));
        event.insert("attempt", attempt);
        event.insert("of", of);
        event.insert("failed", QString::fromStdString(reason));
        std::printf("%s\n", QJsonDocument(event).toJson(QJsonDocument::Compact).constData());
        std::fflush(stdout);
        return;
    }
    if (m_progress) {
        m_progress->hide();
    }
    const std::string prefix = m_ports.size() > 1 ? prefixOf(m_ports[index]) : std::string();
    std::fprintf(stderr, "%sreburn3: attempt %d failed: %s; trying again (%d of %d)\n",
                 prefix.c_str(), failed, reason.c_str(), attempt, of);
    std::fflush(stderr);
    if (m_progress) {
        m_progress->show();
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
            announceRetry(index, attempt, reasons.back());
            m_ended[index] = false;
            startPort(index, attempt + 1, std::move(reasons));
            return;
        }
        session.report();
    }
    m_results[index] = session.result();
    m_ended[index] = true;
    if (m_observer != nullptr) {
        m_observer->portEnded(index, m_results[index], session.told());
    }
    if (--m_left == 0) {
        m_loop->quit();
    }
}

std::string summaryTable(const std::vector<RunResult>& results) {
    std::size_t portWidth = 4;
    for (const RunResult& r : results) {
        portWidth = std::max(portWidth, displayName(r.port).size());
    }
    const bool rounds =
        std::any_of(results.begin(), results.end(), [](const RunResult& r) { return r.round > 0; });
    char buf[512];
    auto row = [&](const std::string& port, const std::string& round, const std::string& outcome,
                   const std::string& reason, const std::string& records, const std::string& time) {
        if (rounds) {
            std::snprintf(buf, sizeof buf, "%-*s  %5s  %-17s  %-17s  %15s  %9s\n",
                          static_cast<int>(portWidth), port.c_str(), round.c_str(), outcome.c_str(),
                          reason.c_str(), records.c_str(), time.c_str());
        } else {
            std::snprintf(buf, sizeof buf, "%-*s  %-17s  %-17s  %15s  %9s\n",
                          static_cast<int>(portWidth), port.c_str(), outcome.c_str(),
                          reason.c_str(), records.c_str(), time.c_str());
        }
        return std::string(buf);
    };
    std::string out = row("port", "round", "outcome", "reason", "records", "time");
    for (const RunResult& r : results) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f s", static_cast<double>(r.durationMs) / 1000);
        out += row(
            displayName(r.port), std::to_string(r.round), std::string(resultName(r)),
            r.outcome == RunOutcome::Completed && !logFailed(r) ? "-" : std::string(reasonWord(r)),
            std::to_string(r.recordsDone) + "/" + std::to_string(r.records), seconds);
    }
    return out;
}

namespace {

// How many failed boards the command's verdict names; the rest are counted.
constexpr std::size_t kFailuresNamed = 3;

// A failed board as the command's verdict names it: "/dev/ttyUSB2 wrong byte at line 7".
std::string failureOf(const RunResult& r) {
    std::string words(reasonWord(r));
    std::replace(words.begin(), words.end(), '-', ' ');
    std::string out = displayName(r.port);
    if (r.round > 0) {
        out += " (round " + std::to_string(r.round) + ")";
    }
    out += " " + words;
    if (r.scriptLine > 0) {
        out += " at line " + std::to_string(r.scriptLine);
    }
    return out;
}

QString text(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace

void reportCommandEnd(const std::vector<RunResult>& results, int exitCode,
                      const FlashOptions& options) {
    std::size_t completed = 0;
    std::vector<std::string> failures;
    std::map<std::string, int> reasons;
    QJsonArray ports;
    for (const RunResult& r : results) {
        const bool ok = r.exitCode == kExitCompleted;
        completed += ok ? 1 : 0;
        if (!ok) {
            failures.push_back(failureOf(r));
            ++reasons[std::string(reasonWord(r))];
        }
        QJsonObject port;
        port.insert("port", text(r.port));
        if (r.round > 0) {
            port.insert("round", r.round);
        }
        port.insert("result", text(resultName(r)));
        port.insert("reason", text(reasonWord(r)));
        port.insert("exitCode", r.exitCode);
        port.insert("attempts", r.attempts);
        ports.append(port);
    }
    std::string line = exitCode == kExitCompleted
                           ? "reburn3: DONE: "
                           : "reburn3: FAILED (exit " + std::to_string(exitCode) + "): ";
    line +=
        std::to_string(completed) + " of " + std::to_string(results.size()) + " boards completed";
    for (std::size_t i = 0; i < failures.size() && i < kFailuresNamed; ++i) {
        line += "; " + failures[i];
    }
    if (failures.size() > kFailuresNamed) {
        line += "; " + std::to_string(failures.size() - kFailuresNamed) + " more failed";
    }
    std::fprintf(stderr, "%s%s\n", line.c_str(), failures.empty() ? "." : "");
    std::fflush(stderr);
    if (!options.json) {
        return;
    }
    QJsonObject boards;
    boards.insert("total", static_cast<qint64>(results.size()));
    boards.insert("completed", static_cast<qint64>(completed));
    boards.insert("failed", static_cast<qint64>(results.size() - completed));
    QJsonObject byReason;
    for (const auto& [word, count] : reasons) {
        byReason.insert(text(word), count);
    }
    QJsonObject summary;
    summary.insert("type", "summary");
    summary.insert("exitCode", exitCode);
    summary.insert("boards", boards);
    summary.insert("reasons", byReason);
    summary.insert("ports", ports);
    std::printf("%s\n", QJsonDocument(summary).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
}

}  // namespace reburn3::cli
