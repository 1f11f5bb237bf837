// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QHash>
#include <QString>

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "serve/record_store.h"

namespace reburn3::serve {

// The station's own account of its records, kept before any database sees them: an
// append-only file of JSON lines in the service's state folder, each synced to the disk
// before the call returns.
//
//   {"type":"round","round":N}        a round is about to run (its number is never reused)
//   {"type":"board","row":{...}}      a board's row, with its record id
//   {"type":"done","recordId":"..."}  the database has committed that row
//
// A board line without its done line is pending: the writer gives it to the database,
// also after a restart. A done line is not synced: one lost in a crash only makes the
// writer offer the row again, and the database ignores a record id it has. A torn last
// line (a crash in the middle of a write) is ignored. The file is rewritten with only the
// pending lines (a temporary file, renamed over it, the folder synced) when it is opened
// and whenever it has grown past a bound, so that it stays small however long the
// station runs. A lock file keeps a second service off the same folder.
//
// Only the pending lines' places in the file are kept in memory, not the rows: a database
// that is down for days costs the station disk, not memory.
//
// Every call may come from any thread; one mutex covers the file.
class RecordJournal {
public:
    static constexpr const char* kFileName = "reburn3-journal.jsonl";
    static constexpr const char* kLockName = "reburn3-journal.lock";
    // Rewritten once it is past this size and twice its size after the last rewrite.
    static constexpr std::int64_t kCompactBytes = 1 << 20;

    explicit RecordJournal(QString folder);
    ~RecordJournal();
    RecordJournal(const RecordJournal&) = delete;
    RecordJournal& operator=(const RecordJournal&) = delete;

    // Takes the folder's lock, reads the journal (made if missing) and rewrites it with
    // its pending lines. False with the reason in `error`.
    bool open(QString& error);
    QString path() const;

    // The highest round the journal has seen (0 when none).
    int lastRound() const;
    // The record ids not yet committed to the database, oldest first.
    std::vector<QString> pendingIds() const;
    std::size_t pendingCount() const;
    // A pending row, read back from the file; nothing (the reason in `error`) when it is
    // not pending or cannot be read.
    std::optional<BoardRow> row(const QString& recordId, QString& error) const;
    // Every pending row, oldest first.
    std::vector<BoardRow> pending() const;

    // Each syncs its line to the disk before it returns. A line that cannot be written
    // whole is cut off again, so the next line starts clean.
    bool appendRound(int round, QString& error);
    bool appendBoard(const BoardRow& row, QString& error);
    // Not synced (see above); rewrites the journal when it has grown past its bound.
    bool markDone(const QString& recordId, QString& error);
    bool compact(QString& error);

private:
    struct Place {
        QString recordId;
        std::int64_t offset = 0;
        std::int64_t length = 0;  // with its newline
    };
    bool appendLine(const QByteArray& line, bool sync, QString& error);
    std::optional<QByteArray> readLine(int fd, const Place& place, QString& error) const;
    bool compactLocked(QString& error);
    bool reopenLocked(QString& error);

    QString m_folder;
    mutable std::mutex m_mutex;
    int m_fd = -1;
    int m_lockFd = -1;
    std::int64_t m_size = 0;
    std::int64_t m_sizeAfterCompact = 0;
    int m_lastRound = 0;
    std::uint64_t m_next = 0;
    std::map<std::uint64_t, Place> m_pending;  // in the order they were written
    QHash<QString, std::uint64_t> m_index;     // record id -> key in m_pending
};

}  // namespace reburn3::serve
