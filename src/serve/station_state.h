// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QString>

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "run/flash_session.h"
#include "run/port_gang.h"
#include "run/run_listener.h"
#include "serve/record_store.h"

namespace reburn3::serve {

class EventFeed;
class Metrics;
class RecordWriter;

// What a POST /api/rounds asks for, already validated: ports by index, and the tags of
// each of those boards (the command's --tag, then the round's, then the board's own).
struct RoundRequest {
    std::vector<std::size_t> ports;
    std::vector<run::Tags> tags;
};

// The station the service runs: its ports, their rounds and what each board did. A round
// is a PortGang like a round of `flash --station`, run in the service's event loop (the
// gang's own loop turns the HTTP sockets too). A round's number is in the journal before
// it runs; every board's row is in the journal (synced, by the journal's thread) before
// its end is shown in the state, and the round is over only once every row is journaled.
// The database gets the rows after that (by the writer's thread); the feed tells each
// row once the database has it. A row the journal cannot take makes the station stop:
// it says so and starts no further round. A database that is down does not: its rows
// wait in the journal, and the state, /healthz and /metrics say so.
class StationState : public QObject, public run::RunListener {
    Q_OBJECT
public:
    struct Setup {
        std::vector<std::string> ports;   // as given
        std::string station;              // --station, else the host name
        std::vector<QString> slotLabels;  // a label per port
        bool serialRequired = false;
        QString listen;  // ADDR:PORT
        bool tokenRequired = false;
        QString scriptName;
        QString scriptSha256;  // until a round's check says it
        qint64 scriptRecords = 0;
        int lastRound = 0;   // the station's last round in the records, before this start
        BoardTally counts;   // the station's boards in the records, before this start
        QString countsNote;  // why they are not (the database did not answer), else empty
    };

    // `terminal` tells each board on the service's own standard output and error (its
    // journal) as `flash` does.
    StationState(run::FlashContext& context, Setup setup, RecordWriter& writer, Metrics& metrics,
                 EventFeed& feed, run::RunListener& terminal);
    ~StationState() override;

    const Setup& setup() const { return m_setup; }
    const run::Tags& commandTags() const { return m_context.options.tags; }
    // The index of a port by its slot label or its text as given; nothing when the
    // station has no such port.
    std::optional<std::size_t> portIndex(const QString& port) const;

    bool running() const { return m_gang != nullptr || m_starting || m_unwritten > 0; }
    // A signal has come: the service is ending and starts nothing more.
    bool ending() const;
    // Empty while rounds may start; else why not (the journal cannot be written).
    const QString& fault() const { return m_fault; }
    // GET /healthz from a state stateJson() made (any thread): {"ok": false, "error": ...}
    // while the journal cannot be written, the database is down or a row has waited for it
    // more than kHealthyWaitMs; always with "records" as the state has it.
    static QJsonObject healthJson(const QJsonObject& state);
    static constexpr int kHealthyWaitMs = 5000;
    // Starts a round in the next turn of the event loop; its number.
    int startRound(RoundRequest request);
    // The round a POST with this Idempotency-Key started, while the key is among the last
    // kIdempotencyKeys kept; 0 for none.
    int roundOfKey(const QString& key) const;
    void keepKey(const QString& key, int round);
    static constexpr std::size_t kIdempotencyKeys = 500;
    // Aborts the round running, or the one starting (it is aborted as it starts); false
    // when none is.
    bool abort();

    QJsonObject stateJson() const;

signals:
    void roundEnded();

public:
    // A round's events: the terminal's, then the station's own.
    void roundStarting(const run::FlashOptions& options, std::size_t ports) override;
    std::unique_ptr<run::PortListener> portListener(std::size_t index, const run::PortTask& task,
                                                    const ProgramState& state) override;
    void everyPortStarted() override;
    void retry(const run::RetryEvent& retry) override;
    RunResult tell(std::size_t index, const run::RunEnd& end, QJsonObject& told) override;
    void roundOver() override;
    void portStarted(std::size_t index, const run::FlashSession& session) override;
    void portEnded(std::size_t index, const RunResult& result, const QJsonObject& told) override;
    // From the writer: a row the database has committed (the feed tells it), and the
    // records' health changed.
    void rowWritten(const BoardRow& row, qint64 id);
    void recordsChanged();

private:
    struct Port {
        QString device;
        QString identity;
        QString state = "idle";
        const run::FlashSession* session = nullptr;
        QString reason;
        qint64 recordsDone = 0;
        qint64 recordsTotal = 0;
        QJsonObject last;
        bool hasLast = false;
        bool writing = false;  // its row is on its way to the database
        int boards = 0;
        int completed = 0;
        QString serial;       // of the board now on it
        QJsonValue board;     // the board now on it (null before the first)
        QJsonObject verdict;  // of the board that just ended, until its row is journaled
    };
    void runRound(RoundRequest request);
    void rowJournaled(std::size_t at, const BoardRow& row, bool journaled, const QString& error);
    QJsonObject recordsJson() const;
    QJsonObject roundJson() const;
    QJsonObject countsJson() const;
    void endRoundOnceWritten();

    run::FlashContext& m_context;
    run::RunListener& m_terminal;
    Setup m_setup;
    RecordWriter& m_writer;
    Metrics& m_metrics;
    EventFeed& m_feed;
    std::vector<Port> m_ports;
    std::vector<std::size_t> m_roundPorts;  // gang index -> port index, of the round running
    std::vector<run::Tags> m_roundTags;
    run::PortGang* m_gang = nullptr;
    bool m_starting = false;
    bool m_abortAtStart = false;  // an Abort came while starting
    int m_unwritten = 0;          // rows given to the journal and not yet in it
    int m_round = 0;
    QString m_roundStartedAt;
    QString m_roundEndedAt;
    QJsonArray m_roundSlots;
    BoardTally m_roundTally;
    bool m_roundOpen = false;  // started and its end not yet told
    BoardTally m_counts;       // since this start
    BoardTally m_countsBase;   // the records' before this start, once the database told them
    bool m_countsKnown = false;
    std::deque<std::pair<QString, int>> m_keys;  // oldest first
    qint64 m_scriptRecords = m_setup.scriptRecords;
    QString m_fault;
    QString m_recordsDigest;  // of recordsJson(), to tell the feed when it changed
};

// The tags in a JSON object, in their order.
QJsonObject tagsJson(const run::Tags& tags);

}  // namespace reburn3::serve
