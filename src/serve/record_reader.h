// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QJsonArray>
#include <QObject>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "serve/http_server.h"

namespace reburn3::serve {

class RecordStore;
struct RowFilter;

// GET /api/records, read and rendered (JSON or CSV) on a thread of its own with its own
// connection: a slow or hung database makes that request slow, never the HTTP thread, the
// feed or a tick. At most kMaxWaiting reads wait at once; the caller answers 503 for any
// more, and for a read not answered within kAnswerMs.
class RecordReader {
public:
    static constexpr int kMaxWaiting = 4;
    static constexpr int kAnswerMs = 5'000;

    using Done = std::function<void(const HttpReply&)>;

    RecordReader();
    // close(), if not yet.
    ~RecordReader();
    RecordReader(const RecordReader&) = delete;
    RecordReader& operator=(const RecordReader&) = delete;

    // Opens the reader's connection; waits for it. False with the reason.
    bool open(const std::string& url, QString& error);
    // Reads the rows after `since` (or the newest) up to `limit` and renders them; `done`
    // is then called in the thread of `context`. False, and nothing read, when kMaxWaiting
    // reads are waiting already.
    // `render` makes the reply of the rows (recordsReply() when empty).
    using Render = std::function<HttpReply(const QJsonArray& rows)>;
    bool read(const RowFilter& filter, bool csv, QObject* context, Done done,
              Render render = nullptr);
    // No read tells anyone any more (call it before the contexts given to read() go); the
    // connection is closed in its thread. A thread stuck in the database is waited for
    // kStopMs, then left to the process's end.
    void close();

private:
    QThread* m_thread;
    QObject* m_worker;                     // lives in m_thread
    std::unique_ptr<RecordStore> m_store;  // used in m_thread only
    std::shared_ptr<std::atomic<int>> m_waiting = std::make_shared<std::atomic<int>>(0);
    // Whether a read that comes back may still tell its context; the lock is held while
    // one does, so that after close() none can.
    struct Open {
        std::mutex lock;
        bool open = true;
    };
    std::shared_ptr<Open> m_open = std::make_shared<Open>();
    bool m_closed = false;
};

// The rows as the API answers them: {"records": [...], "next": ID} or CSV.
HttpReply recordsReply(const QJsonArray& rows, std::optional<qint64> since, bool csv);

}  // namespace reburn3::serve
