// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QDeadlineTimer>
#include <QString>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "serve/record_store.h"

namespace reburn3::serve {

class RecordJournal;

// The records as they are now, for the state, /healthz and /metrics.
struct RecordsHealth {
    std::size_t pending = 0;  // in the journal and not yet committed to the database
    std::uint64_t lost = 0;   // the journal did not take them (the database may still have)
    bool databaseUp = false;  // the last call succeeded and none has run past its bound
    QString databaseError;    // why not up
    std::int64_t oldestPendingMs = 0;  // how long the oldest pending row has waited
    bool journalOk = true;
    QString journalError;        // once the journal could not be written (it stays)
    int databaseLastRound = -1;  // this station's last round in the database; -1 unknown
};

// Every board's row on its way to the database, in two threads of their own so that
// neither a disk sync nor a database that hangs can hold the ticks:
//
//  - the journal's thread appends the row to the journal and syncs it; only then is the
//    board's end shown (the `Journaled` call);
//  - the database's thread writes the rows in the order they were journaled, each in a
//    transaction whose commit is checked, and marks each done in the journal. A row the
//    database does not take stays first in line: the connection is made again and the
//    row offered again after 0.25 s, then twice as long each time up to 5 s. The rows
//    the journal held from an earlier run go first.
//
// While no row waits the database's thread checks twice a second that the database is
// still there: a PostgreSQL server by a trivial statement, an SQLite file by its inode
// (a file deleted or replaced is opened again, and so made again). A row written just as
// its SQLite file was replaced is offered again to the new file.
class RecordWriter {
public:
    // A call to the database running longer than this counts as a database that does
    // not answer: a trivial statement, and a row's write or a connection.
    static constexpr int kPingAnswerMs = 1000;
    static constexpr int kCallAnswerMs = 2000;

    using Journaled = std::function<void(bool journaled, const QString& error)>;
    using Written = std::function<void(const BoardRow& row, qint64 id)>;

    explicit RecordWriter(RecordJournal& journal);
    // Waits for the threads; after finish() returned false it must not run (the
    // service then leaves with _exit).
    ~RecordWriter();
    RecordWriter(const RecordWriter&) = delete;
    RecordWriter& operator=(const RecordWriter&) = delete;

    // Reads the URL without connecting: false for one that can never work.
    bool configure(const std::string& url, QString& error);
    const QString& description() const { return m_description; }
    // Starts the threads with the journal's pending rows first in line. `written` is
    // called in the thread of `context` for each row committed, `changed` whenever the
    // health changed. `station` is whose last round is read from the database.
    void start(const QString& station, QObject* context, Written written,
               std::function<void()> changed);
    // Waits until the first connection was tried, up to `deadline`.
    void waitFirstAttempt(QDeadlineTimer deadline);

    // Writes a round's start to the journal (and syncs it); waits for it.
    bool journalRound(int round, QString& error);
    // Journals `row`, then gives it to the database; `done` is called in the thread of
    // `context` once the journal has it (or could not take it).
    void record(const BoardRow& row, QObject* context, Journaled done);

    RecordsHealth health() const;
    // The station's boards in the database as its first connection found them; nothing
    // when it has not connected yet.
    std::optional<BoardTally> startCounts() const;

    // The service ends: waits up to `deadline` for the rows in line to be written (not
    // for a database that is down), then stops the threads. False when the database's
    // thread is still in a call at the deadline: it is left there, its rows pending in
    // the journal.
    bool finish(QDeadlineTimer deadline);

private:
    // A row in line: a journaled one is read back from the journal when its turn comes
    // (only its id waits in memory), one the journal did not take waits here whole.
    struct Item {
        QString recordId;
        std::optional<BoardRow> unjournaled;
        std::chrono::steady_clock::time_point since;
    };
    // Rows counted in line (any thread), before the database's thread has them.
    void count(std::chrono::steady_clock::time_point since, std::size_t rows);
    // In the database's thread.
    void schedulePump(int ms);
    void pump();
    void checkIdle();
    bool connectStore();
    void setDatabase(bool up, const QString& error);
    void beginCall(int answerMs);
    void endCall();
    void notify();

    RecordJournal& m_journal;
    std::string m_url;
    QString m_description;
    QString m_station;
    QObject* m_context = nullptr;
    Written m_written;
    std::function<void()> m_changed;

    QThread m_journalThread;
    QObject* m_journalWorker;
    QThread m_dbThread;
    QObject* m_dbWorker;
    bool m_finished = false;

    // The database's thread's own.
    std::unique_ptr<RecordStore> m_store;
    std::deque<Item> m_queue;
    int m_backoffMs = 0;
    QTimer* m_idleTimer = nullptr;  // the check while no row waits
    QTimer* m_pumpTimer = nullptr;  // the next row, or the next try

    // Shared, under m_mutex.
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    RecordsHealth m_health;
    std::optional<BoardTally> m_startCounts;
    bool m_attempted = false;
    std::size_t m_queued = 0;
    std::chrono::steady_clock::time_point m_oldest{};
    std::atomic<std::int64_t> m_busySince{0};  // steady ms of the call in progress, 0: none
    std::atomic<int> m_busyBound{0};           // its kPingAnswerMs or kCallAnswerMs
    std::atomic<bool> m_ending{false};
};

}  // namespace reburn3::serve
