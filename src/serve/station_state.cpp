// SPDX-License-Identifier: Apache-2.0
#include "serve/station_state.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <QTimer>
#include <QUuid>

#include <cstdio>
#include <filesystem>
#include <optional>

#include "base/program_state.h"
#include "base/version.h"
#include "run/exit_codes.h"
#include "run/json_result.h"
#include "run/port_resolution.h"
#include "run/reason_table.h"
#include "run/signal_watcher.h"
#include "run/verdict.h"
#include "serial/port_map.h"
#include "serve/event_feed.h"
#include "serve/metrics.h"
#include "serve/record_store.h"
#include "serve/record_writer.h"

namespace reburn3::serve {

namespace {

QString text(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// The USB serial number of the adapter behind `device`, else its vendor:product; "" for
// a port that is no USB adapter (a pseudo-terminal, a built-in UART). `present` is the
// system's list of ports, taken once for every port of the station.
QString identityOf(const std::string& device, const QList<QSerialPortInfo>& present) {
    std::error_code error;
    const QString real = QString::fromStdString(std::filesystem::canonical(device, error).string());
    for (const QSerialPortInfo& info : present) {
        if (info.systemLocation() != real) {
            continue;
        }
        if (!info.serialNumber().isEmpty()) {
            return info.serialNumber();
        }
        if (info.hasVendorIdentifier() && info.hasProductIdentifier()) {
            return QStringLiteral("%1:%2")
                .arg(info.vendorIdentifier(), 4, 16, QChar('0'))
                .arg(info.productIdentifier(), 4, 16, QChar('0'));
        }
    }
    return {};
}

QJsonValue yieldOf(int completed, int boards) {
    return boards == 0 ? QJsonValue(QJsonValue::Null)
                       : QJsonValue(static_cast<double>(completed) / boards);
}

}  // namespace

QString serialOf(const run::Tags& tags) {
    for (const auto& [key, value] : tags) {
        if (key == "serial") {
            return text(value);
        }
    }
    return {};
}

QJsonObject tagsJson(const run::Tags& tags) {
    QJsonObject o;
    for (const auto& [key, value] : tags) {
        o.insert(text(key), text(value));
    }
    return o;
}

StationState::StationState(run::FlashContext& context, Setup setup, RecordWriter& writer,
                           Metrics& metrics, EventFeed& feed, run::RunListener& terminal)
    : m_context(context),
      m_terminal(terminal),
      m_setup(std::move(setup)),
      m_writer(writer),
      m_metrics(metrics),
      m_feed(feed),
      m_ports(m_setup.ports.size()),
      m_round(m_setup.lastRound),
      m_countsBase(m_setup.counts),
      m_countsKnown(m_setup.countsNote.isEmpty()) {
    if (m_countsKnown && m_countsBase.lastEnded > 0) {
        m_metrics.setLastBoard(m_countsBase.lastEnded);
    }
    // How the records are is looked at four times a second as well: a database call that
    // hangs tells nothing by itself.
    auto* watch = new QTimer(this);
    connect(watch, &QTimer::timeout, this, [this] { recordsChanged(); });
    watch->start(250);
    const QList<QSerialPortInfo> present = QSerialPortInfo::availablePorts();
    for (std::size_t i = 0; i < m_ports.size(); ++i) {
        const std::string device = run::deviceOf(m_setup.ports[i]);
        m_ports[i].device = text(device);
        m_ports[i].identity = identityOf(device, present);
    }
}

StationState::~StationState() = default;

std::optional<std::size_t> StationState::portIndex(const QString& port) const {
    for (std::size_t i = 0; i < m_setup.ports.size(); ++i) {
        if (m_setup.slotLabels[i] == port) {
            return i;
        }
    }
    for (std::size_t i = 0; i < m_setup.ports.size(); ++i) {
        if (text(m_setup.ports[i]) == port) {
            return i;
        }
    }
    return std::nullopt;
}

int StationState::roundOfKey(const QString& key) const {
    for (const auto& [k, round] : m_keys) {
        if (k == key) {
            return round;
        }
    }
    return 0;
}

void StationState::keepKey(const QString& key, int round) {
    m_keys.emplace_back(key, round);
    if (m_keys.size() > kIdempotencyKeys) {
        m_keys.pop_front();
    }
}

bool StationState::ending() const {
    return m_context.watcher.raised();
}

int StationState::startRound(RoundRequest request) {
    m_starting = true;
    m_abortAtStart = false;
    ++m_round;
    m_roundStartedAt = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    m_roundEndedAt.clear();
    m_roundSlots = QJsonArray();
    m_roundTally = BoardTally();
    m_roundOpen = true;
    for (std::size_t k = 0; k < request.ports.size(); ++k) {
        Port& port = m_ports[request.ports[k]];
        port.state = "waiting";
        port.reason.clear();
        port.recordsDone = 0;
        // The tile shows this board from now on, never the last one's verdict.
        port.serial = serialOf(request.tags[k]);
        port.board =
            QJsonObject{{"round", m_round},
                        {"running", true},
                        {"serial", port.serial.isEmpty() ? QJsonValue() : QJsonValue(port.serial)}};
        m_roundSlots.append(m_setup.slotLabels[request.ports[k]]);
    }
    m_feed.changed();
    // The gang starts in the next turn of the event loop; an Abort before then is kept and
    // aborts it as it starts.
    QTimer::singleShot(0, this, [this, request = std::move(request)]() mutable {
        const bool abortNow = m_abortAtStart;
        m_abortAtStart = false;
        if (abortNow) {
            QTimer::singleShot(0, this, [this] { abort(); });
        }
        runRound(std::move(request));
    });
    return m_round;
}

void StationState::runRound(RoundRequest request) {
    std::vector<std::string> ports;
    for (const std::size_t i : request.ports) {
        ports.push_back(m_setup.ports[i]);
    }
    m_roundPorts = request.ports;
    m_roundTags = request.tags;
    // The round's number is on the station's disk before anything of it runs: a service
    // killed in the middle of it does not give the number again.
    QString error;
    if (m_fault.isEmpty() && !m_writer.journalRound(m_round, error)) {
        m_fault = error;
        std::fprintf(stderr, "reburn3: ROUND NOT STARTED: %s; no further round starts\n",
                     error.toUtf8().constData());
        std::fflush(stderr);
    }
    if (!m_fault.isEmpty()) {
        // Not started: no board of this round is on any slot.
        for (const std::size_t i : request.ports) {
            m_ports[i].state = "idle";
            m_ports[i].board = QJsonValue();
        }
        m_starting = false;
        m_roundPorts.clear();
        endRoundOnceWritten();
        return;
    }
    run::PortGang gang(m_context, ports, m_round, *this);
    gang.setBoardTags(request.tags);
    m_gang = &gang;
    m_starting = false;
    m_metrics.roundStarted();
    if (m_context.watcher.raised()) {
        gang.abort();
    }
    // The gang's loop turns until every port has ended; the service answers meanwhile.
    gang.run();
    m_gang = nullptr;
    m_roundPorts.clear();
    endRoundOnceWritten();
}

void StationState::endRoundOnceWritten() {
    if (!running() && m_roundOpen) {
        m_roundOpen = false;
        m_roundEndedAt = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    }
    m_feed.changed();
    if (!running()) {
        emit roundEnded();
    }
}

bool StationState::abort() {
    if (m_gang == nullptr) {
        // Pressed in the very instant of Start: the round about to start is aborted.
        m_abortAtStart = m_starting;
        return m_starting;
    }
    m_gang->abort();
    return true;
}

void StationState::roundStarting(const run::FlashOptions& options, std::size_t ports) {
    m_terminal.roundStarting(options, ports);
}

std::unique_ptr<run::PortListener> StationState::portListener(std::size_t index,
                                                              const run::PortTask& task,
                                                              const ProgramState& state) {
    return m_terminal.portListener(index, task, state);
}

void StationState::everyPortStarted() {
    m_terminal.everyPortStarted();
}

void StationState::retry(const run::RetryEvent& retry) {
    m_terminal.retry(retry);
}

RunResult StationState::tell(std::size_t index, const run::RunEnd& end, QJsonObject& told) {
    return m_terminal.tell(index, end, told);
}

void StationState::roundOver() {
    m_terminal.roundOver();
}

void StationState::portStarted(std::size_t index, const run::FlashSession& session) {
    m_terminal.portStarted(index, session);
    Port& port = m_ports[m_roundPorts[index]];
    port.session = &session;
    port.state = "waiting";
    m_feed.changed();
}

void StationState::portEnded(std::size_t index, const RunResult& result, const QJsonObject& told) {
    const std::size_t at = m_roundPorts[index];
    Port& port = m_ports[at];
    port.session = nullptr;
    const run::Tags& tags = m_roundTags[index];

    BoardRow row;
    row.recordId = QUuid::createUuid().toString(QUuid::WithoutBraces);
    row.round = result.round;
    row.port = text(result.port);
    row.device = text(result.device);
    row.outcome = text(run::resultName(result));
    row.reason = text(run::reasonWord(result));
    row.records = static_cast<qint64>(result.recordsDone);
    row.recordsTotal = static_cast<qint64>(result.records);
    row.seconds = static_cast<double>(result.durationMs) / 1000.0;
    row.exitCode = result.exitCode;
    row.tags = tagsJson(tags);
    row.station = text(m_setup.station);
    row.scriptSha256 = text(result.sha256);
    row.startedAt = text(result.startedAt);
    row.endedAt = text(result.endedAt);
    row.result = told;  // the result object `flash --json` prints, from the same code
    row.slot = m_setup.slotLabels[at];
    row.serial = serialOf(tags);

    // What the tile tells of this board once its row is safe: the command line's verdict
    // and next step, and where in the script it failed.
    const bool completed = result.outcome == RunOutcome::Completed;
    QJsonObject verdict{
        {"round", result.round},
        {"running", false},
        {"serial", row.serial.isEmpty() ? QJsonValue() : QJsonValue(row.serial)},
        {"result", row.outcome},
        {"reason", row.reason},
        {"text", text(run::verdictLine(result)).remove(QRegularExpression("^reburn3: "))},
        {"nextStep", completed ? QString() : text(run::reasonRow(result.reason).nextStep)},
        {"partlyProgrammed", result.partlyProgrammed},
        {"recordId", row.recordId}};
    for (const char* key :
         {"records", "recordsDone", "durationMs", "scriptLine", "expected", "received"}) {
        if (told.contains(QLatin1String(key))) {
            verdict.insert(QLatin1String(key), told.value(QLatin1String(key)));
        }
    }
    port.verdict = verdict;

    // The row first: the board's end is shown only once its record is safe.
    port.writing = true;
    port.recordsDone = row.records;
    port.recordsTotal = row.recordsTotal;
    ++m_unwritten;
    m_writer.record(row, this, [this, at, row](bool journaled, const QString& error) {
        rowJournaled(at, row, journaled, error);
    });
}

void StationState::rowJournaled(std::size_t at, const BoardRow& row, bool journaled,
                                const QString& error) {
    Port& port = m_ports[at];
    --m_unwritten;
    port.writing = false;
    if (!journaled) {
        if (m_fault.isEmpty()) {
            m_fault = error;
        }
        m_metrics.recordWriteFailed();
        std::fprintf(stderr,
                     "reburn3: RECORD NOT JOURNALED: %s (round %d, port %s); it goes to the "
                     "database only, and no further round starts\n",
                     error.toUtf8().constData(), row.round, row.port.toUtf8().constData());
        std::fflush(stderr);
    }
    const bool completed = row.exitCode == run::kExitCompleted;
    m_metrics.board(row.port, row.slot, row.outcome, row.reason, row.seconds);
    m_counts.add(row.outcome, row.reason);
    m_roundTally.add(row.outcome, row.reason);
    QJsonObject board = port.verdict;
    board.insert("record", journaled ? "pending" : "lost");
    port.board = board;
    port.verdict = QJsonObject();
    if (!row.scriptSha256.isEmpty()) {
        m_setup.scriptSha256 = row.scriptSha256;
    }
    m_scriptRecords = row.recordsTotal > 0 ? row.recordsTotal : m_scriptRecords;
    port.state = row.reason == "interrupted" ? "aborted" : completed ? "completed" : "failed";
    port.reason = completed ? QString() : row.reason;
    port.last = row.result;
    port.hasLast = true;
    ++port.boards;
    port.completed += completed ? 1 : 0;
    recordsChanged();
    if (m_gang == nullptr && !m_starting) {
        endRoundOnceWritten();
    } else {
        m_feed.changed();
    }
}

void StationState::rowWritten(const BoardRow& row, qint64 id) {
    m_feed.record(RecordStore::rowJson(id, row));
    for (Port& port : m_ports) {
        QJsonObject board = port.board.toObject();
        if (board.value("recordId").toString() == row.recordId) {
            board.insert("record", "written");
            port.board = board;
            m_feed.changed();
        }
    }
    recordsChanged();
}

void StationState::recordsChanged() {
    const RecordsHealth h = m_writer.health();
    if (!h.journalOk && m_fault.isEmpty()) {
        m_fault = h.journalError;
    }
    // A database found after the start may know of later rounds of this station.
    if (h.databaseLastRound > m_round && !running()) {
        m_round = h.databaseLastRound;
    }
    m_metrics.setRecords(h.pending, h.lost, h.databaseUp, h.journalOk);
    // A database that answered only after the start (down, or converting an old table)
    // gives the counts before this start then: its first connection reads them before it
    // writes any row of this start, so nothing is counted twice.
    if (!m_countsKnown) {
        if (const std::optional<BoardTally> base = m_writer.startCounts()) {
            m_countsBase = *base;
            m_countsKnown = true;
            if (base->lastEnded > 0) {
                m_metrics.setLastBoard(base->lastEnded);
            }
            m_feed.changed();
        }
    }
    const QJsonObject records = recordsJson();
    const QString digest = QString::fromUtf8(QJsonDocument(records).toJson(QJsonDocument::Compact));
    if (digest != m_recordsDigest) {
        m_recordsDigest = digest;
        m_feed.changed();
    }
}

QJsonObject StationState::recordsJson() const {
    const RecordsHealth h = m_writer.health();
    QJsonObject o{{"pending", static_cast<qint64>(h.pending)},
                  {"lost", static_cast<qint64>(h.lost)},
                  {"database", h.databaseUp ? "up" : "down"},
                  {"journal", h.journalOk ? QStringLiteral("ok") : h.journalError},
                  {"overdue", h.oldestPendingMs > kHealthyWaitMs}};
    if (!h.databaseUp) {
        o.insert("databaseError",
                 h.databaseError.isEmpty()
                     ? "the records database " + m_writer.description() + " is not connected yet"
                     : h.databaseError);
    }
    return o;
}

QJsonObject StationState::healthJson(const QJsonObject& state) {
    const QJsonObject records = state.value("records").toObject();
    QString error;
    if (!state.value("ok").toBool(true)) {
        error = state.value("error").toString();
    } else if (records.value("database").toString() != "up") {
        error = records.value("databaseError").toString();
    } else if (records.value("overdue").toBool()) {
        error = QStringLiteral("%1 records have waited more than %2 s for the database")
                    .arg(records.value("pending").toInteger())
                    .arg(kHealthyWaitMs / 1000);
    }
    QJsonObject o{{"ok", error.isEmpty()}, {"records", records}};
    if (!error.isEmpty()) {
        o.insert("error", error);
    }
    return o;
}

QJsonObject StationState::roundJson() const {
    const bool ended = !m_roundOpen && !m_roundStartedAt.isEmpty();
    return QJsonObject{
        {"number", m_round},
        {"running", running()},
        {"nextTags", tagsJson(m_context.options.tags)},
        {"startedAt", m_roundStartedAt.isEmpty() ? QJsonValue() : QJsonValue(m_roundStartedAt)},
        {"endedAt", ended ? QJsonValue(m_roundEndedAt) : QJsonValue()},
        {"slots", m_roundSlots},
        {"result", ended ? QJsonValue(m_roundTally.json(false)) : QJsonValue()}};
}

QJsonObject StationState::countsJson() const {
    BoardTally all = m_countsBase;
    all.add(m_counts);
    QJsonObject o = all.json(true);
    // The former name: every board not completed.
    o.insert("failed", all.boards - all.completed);
    if (!m_countsKnown) {
        o.insert("note", m_setup.countsNote);
    }
    return o;
}

QJsonObject StationState::stateJson() const {
    QJsonArray ports;
    for (std::size_t i = 0; i < m_ports.size(); ++i) {
        const Port& p = m_ports[i];
        qint64 done = p.recordsDone;
        qint64 total = p.recordsTotal;
        QString state = p.state;
        if (p.writing) {
            state = "running";
        } else if (p.session != nullptr) {
            const ProgramState& s = p.session->state();
            done = s.RecordsDone;
            total = s.RecordsTotal > 0 ? s.RecordsTotal : total;
            state = s.ProgramMode != 0 ? "running" : "waiting";
        }
        ports.append(QJsonObject{{"slot", m_setup.slotLabels[i]},
                                 {"port", text(m_setup.ports[i])},
                                 {"board", p.board},
                                 {"device", p.device},
                                 {"identity", p.identity},
                                 {"state", state},
                                 {"recordsDone", done},
                                 {"recordsTotal", total},
                                 {"reason", p.reason},
                                 {"last", p.hasLast ? QJsonValue(p.last) : QJsonValue()},
                                 {"boards", p.boards},
                                 {"completed", p.completed},
                                 {"yield", yieldOf(p.completed, p.boards)}});
    }
    QJsonObject state{{"version", text(programVersion())},
                      {"station", text(m_setup.station)},
                      {"listen", m_setup.listen},
                      {"ok", m_fault.isEmpty()},
                      {"script", QJsonObject{{"name", m_setup.scriptName},
                                             {"sha256", m_setup.scriptSha256},
                                             {"records", m_scriptRecords}}},
                      {"round", roundJson()},
                      {"counts", countsJson()},
                      {"stopped", !m_fault.isEmpty()},
                      {"serialRequired", m_setup.serialRequired},
                      {"ports", ports},
                      {"records", recordsJson()},
                      {"tokenRequired", m_setup.tokenRequired}};
    if (!m_fault.isEmpty()) {
        state.insert("error", m_fault);
    }
    return state;
}

}  // namespace reburn3::serve
