// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>
#include <QThread>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "serve/record_store.h"

namespace reburn3::serve {

// The rows written in a thread of their own, in the order given: a database that syncs
// every row to its disk (SQLite's synchronous=FULL, a PostgreSQL commit) takes
// milliseconds a row, and a round of 32 boards ending together must not hold the ticks of
// the ports still running for that long. The thread has its own connection; the service
// reads through another.
class RecordWriter {
public:
    using Done = std::function<void(std::optional<qint64> id, const QString& error)>;

    RecordWriter();
    // Waits for every row given to be written.
    ~RecordWriter();
    RecordWriter(const RecordWriter&) = delete;
    RecordWriter& operator=(const RecordWriter&) = delete;

    // Opens the writer's connection (and makes the table); waits for it.
    bool open(const std::string& url, QString& error);
    // Writes `row`; `done` is then called in the thread of `context`.
    void write(const BoardRow& row, QObject* context, Done done);

private:
    QThread m_thread;
    QObject* m_worker;                     // lives in m_thread
    std::unique_ptr<RecordStore> m_store;  // used in m_thread only
};

}  // namespace reburn3::serve
