// SPDX-License-Identifier: Apache-2.0
#include "serve/record_writer.h"

#include <QTimer>

#include "serve/record_journal.h"

namespace reburn3::serve {

namespace {

constexpr int kFirstBackoffMs = 250;
constexpr int kLastBackoffMs = 5000;
constexpr int kIdleCheckMs = 500;

// Waits on `cv` until `done` or `deadline` (which may be forever).
template <typename Done>
void waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
               const QDeadlineTimer& deadline, Done done) {
    if (deadline.isForever()) {
        cv.wait(lock, done);
    } else {
        cv.wait_for(lock, std::chrono::milliseconds(deadline.remainingTime()), done);
    }
}

std::int64_t steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

RecordWriter::RecordWriter(RecordJournal& journal)
    : m_journal(journal),
      m_journalWorker(new QObject),
      m_dbWorker(new QObject),
      m_store(std::make_unique<RecordStore>()) {
    m_journalThread.setObjectName(QStringLiteral("reburn3-journal"));
    m_dbThread.setObjectName(QStringLiteral("reburn3-records"));
    m_journalWorker->moveToThread(&m_journalThread);
    m_dbWorker->moveToThread(&m_dbThread);
}

RecordWriter::~RecordWriter() {
    if (!m_finished) {
        finish(QDeadlineTimer(QDeadlineTimer::Forever));
    }
    delete m_journalWorker;
    delete m_dbWorker;
}

bool RecordWriter::configure(const std::string& url, QString& error) {
    // A connection belongs to the thread that made it: the one used is made in the
    // database's thread; this one only reads the URL.
    RecordStore check;
    if (!check.configure(url, error)) {
        return false;
    }
    m_url = url;
    m_description = check.description();
    return true;
}

void RecordWriter::start(const QString& station, QObject* context, Written written,
                         std::function<void()> changed) {
    m_station = station;
    m_context = context;
    m_written = std::move(written);
    m_changed = std::move(changed);
    {
        std::lock_guard lock(m_mutex);
        m_health.pending = m_journal.pendingCount();
    }
    m_journalThread.start();
    m_dbThread.start();
    std::vector<QString> pending = m_journal.pendingIds();
    if (!pending.empty()) {
        count(std::chrono::steady_clock::now(), pending.size());
    }
    QMetaObject::invokeMethod(m_dbWorker, [this, pending = std::move(pending)] {
        QString error;
        m_store->configure(m_url, error);  // as configure() found it
        m_idleTimer = new QTimer(m_dbWorker);
        QObject::connect(m_idleTimer, &QTimer::timeout, m_dbWorker, [this] { checkIdle(); });
        m_idleTimer->start(kIdleCheckMs);
        m_pumpTimer = new QTimer(m_dbWorker);
        m_pumpTimer->setSingleShot(true);
        QObject::connect(m_pumpTimer, &QTimer::timeout, m_dbWorker, [this] { pump(); });
        const auto now = std::chrono::steady_clock::now();
        for (const QString& id : pending) {
            m_queue.push_back(Item{id, std::nullopt, now});
        }
        connectStore();
        {
            std::lock_guard lock(m_mutex);
            m_attempted = true;
        }
        m_cv.notify_all();
        schedulePump(0);
    });
}

void RecordWriter::waitFirstAttempt(QDeadlineTimer deadline) {
    std::unique_lock lock(m_mutex);
    waitUntil(m_cv, lock, deadline, [this] { return m_attempted; });
}

bool RecordWriter::journalRound(int round, QString& error) {
    bool ok = false;
    QMetaObject::invokeMethod(
        m_journalWorker, [&] { ok = m_journal.appendRound(round, error); },
        Qt::BlockingQueuedConnection);
    if (!ok) {
        {
            std::lock_guard lock(m_mutex);
            m_health.journalOk = false;
            m_health.journalError = error;
        }
        notify();
    }
    return ok;
}

void RecordWriter::record(const BoardRow& row, QObject* context, Journaled done) {
    QMetaObject::invokeMethod(m_journalWorker, [this, row, context, done = std::move(done)] {
        QString error;
        const bool journaled = m_journal.appendBoard(row, error);
        {
            std::lock_guard lock(m_mutex);
            if (journaled) {
                ++m_health.pending;
            } else {
                ++m_health.lost;
                m_health.journalOk = false;
                m_health.journalError = error;
            }
        }
        // The database may still take a row the journal could not: it is then not lost.
        Item item{row.recordId, std::nullopt, std::chrono::steady_clock::now()};
        if (!journaled) {
            item.unjournaled = row;
        }
        // Counted in line before the database's thread has it: the end waits for it.
        count(item.since, 1);
        QMetaObject::invokeMethod(m_dbWorker, [this, item] {
            m_queue.push_back(item);
            schedulePump(0);
        });
        QMetaObject::invokeMethod(
            context, [done, journaled, error] { done(journaled, error); }, Qt::QueuedConnection);
        notify();
    });
}

RecordsHealth RecordWriter::health() const {
    std::lock_guard lock(m_mutex);
    RecordsHealth h = m_health;
    const std::int64_t since = m_busySince.load();
    const std::int64_t busy = since == 0 ? 0 : steadyMs() - since;
    if (busy > m_busyBound.load()) {
        h.databaseUp = false;
        h.databaseError = QStringLiteral("the records database %1 has not answered for %2 s")
                              .arg(m_description)
                              .arg(busy / 1000);
    }
    h.oldestPendingMs = m_queued == 0 ? 0
                                      : std::chrono::duration_cast<std::chrono::milliseconds>(
                                            std::chrono::steady_clock::now() - m_oldest)
                                            .count();
    return h;
}

bool RecordWriter::finish(QDeadlineTimer deadline) {
    if (m_finished) {
        return true;
    }
    m_finished = true;
    m_ending = true;
    // The journal's thread only ever waits for the disk.
    QMetaObject::invokeMethod(m_journalWorker, [] { QThread::currentThread()->quit(); });
    m_journalThread.wait();
    {
        std::unique_lock lock(m_mutex);
        waitUntil(m_cv, lock, deadline, [this] {
            return m_queued == 0 || (!m_health.databaseUp && m_busySince.load() == 0);
        });
    }
    QMetaObject::invokeMethod(m_dbWorker, [this] {
        // The timers and the connection end in their own thread.
        delete m_idleTimer;
        delete m_pumpTimer;
        m_idleTimer = m_pumpTimer = nullptr;
        m_store.reset();
        QThread::currentThread()->quit();
    });
    return m_dbThread.wait(deadline);
}

void RecordWriter::notify() {
    if (m_context != nullptr && m_changed) {
        QMetaObject::invokeMethod(m_context, m_changed, Qt::QueuedConnection);
    }
}

void RecordWriter::beginCall(int answerMs) {
    m_busyBound = answerMs;
    m_busySince = steadyMs();
}

void RecordWriter::endCall() {
    m_busySince = 0;
}

void RecordWriter::setDatabase(bool up, const QString& error) {
    bool changed = false;
    {
        std::lock_guard lock(m_mutex);
        changed = m_health.databaseUp != up || m_health.databaseError != error;
        m_health.databaseUp = up;
        m_health.databaseError = error;
    }
    m_cv.notify_all();
    if (changed) {
        notify();
    }
}

bool RecordWriter::connectStore() {
    QString error;
    beginCall(kCallAnswerMs);
    bool ok = m_store->connect(error);
    std::optional<int> last;
    std::optional<BoardTally> counts;
    if (ok) {
        last = m_store->lastRound(m_station, error);
        ok = last.has_value();
    }
    bool wantCounts = false;
    {
        std::lock_guard lock(m_mutex);
        wantCounts = !m_startCounts.has_value();
    }
    if (ok && wantCounts) {
        counts = m_store->counts(m_station, error);
        ok = counts.has_value();
    }
    endCall();
    if (ok) {
        std::lock_guard lock(m_mutex);
        m_health.databaseLastRound = std::max(m_health.databaseLastRound, *last);
        if (counts) {
            m_startCounts = counts;
        }
    } else {
        m_store->close();
    }
    // With rows waiting, the database is up once it has taken one, not once it let us in
    // (a full disk lets a connection in and refuses every row).
    if (!ok || m_queue.empty()) {
        setDatabase(ok, ok ? QString() : error);
    }
    return ok;
}

std::optional<BoardTally> RecordWriter::startCounts() const {
    std::lock_guard lock(m_mutex);
    return m_startCounts;
}

void RecordWriter::count(std::chrono::steady_clock::time_point since, std::size_t rows) {
    std::lock_guard lock(m_mutex);
    if (m_queued == 0) {
        m_oldest = since;
    }
    m_queued += rows;
}

void RecordWriter::schedulePump(int ms) {
    if (m_pumpTimer != nullptr && !m_pumpTimer->isActive()) {
        m_pumpTimer->start(ms);
    }
}

void RecordWriter::pump() {
    if (m_queue.empty() || !m_store) {
        return;
    }
    if (!m_store->connected() || m_store->fileReplaced()) {
        // At the end, a database that is down is not waited for: the rows stay pending.
        if (m_ending || !connectStore()) {
            m_backoffMs = std::clamp(m_backoffMs * 2, kFirstBackoffMs, kLastBackoffMs);
            schedulePump(m_backoffMs);
            return;
        }
    }
    Item& item = m_queue.front();
    QString error;
    const bool journaled = !item.unjournaled;
    // The row leaves the line (under the lock: the counters change with it).
    const auto leave = [this, journaled](const std::function<void()>& also) {
        m_queue.pop_front();
        std::lock_guard lock(m_mutex);
        --m_queued;
        if (!m_queue.empty()) {
            m_oldest = m_queue.front().since;
        }
        if (journaled) {
            --m_health.pending;
        }
        also();
    };
    std::optional<BoardRow> row =
        journaled ? m_journal.row(item.recordId, error) : item.unjournaled;
    if (!row) {
        // The journal cannot give back a line it took: the row is lost here, and said so.
        leave([&] {
            ++m_health.lost;
            m_health.journalOk = false;
            m_health.journalError = error;
        });
        notify();
        schedulePump(0);
        return;
    }
    beginCall(kCallAnswerMs);
    std::optional<qint64> id = m_store->write(*row, error);
    endCall();
    if (id && m_store->fileReplaced()) {
        // Written to a file that was deleted or replaced meanwhile: offered to the new one.
        id.reset();
        error = "the records file " + m_store->file() + " was deleted or replaced";
    }
    if (!id) {
        m_store->close();
        setDatabase(false, error);
        m_backoffMs = std::clamp(m_backoffMs * 2, kFirstBackoffMs, kLastBackoffMs);
        schedulePump(m_backoffMs);
        return;
    }
    m_backoffMs = 0;
    QString journalError;
    const bool marked = !journaled || m_journal.markDone(item.recordId, journalError);
    leave([&] {
        if (!marked) {
            m_health.journalOk = false;
            m_health.journalError = journalError;
        }
    });
    setDatabase(true, QString());
    if (m_context != nullptr && m_written) {
        QMetaObject::invokeMethod(
            m_context, [this, row = std::move(*row), id] { m_written(row, *id); },
            Qt::QueuedConnection);
    }
    notify();
    schedulePump(0);
}

void RecordWriter::checkIdle() {
    if (!m_queue.empty() || m_ending || !m_store) {
        return;  // the rows in line tell how the database is
    }
    QString error;
    if (!m_store->connected() || m_store->fileReplaced()) {
        connectStore();
        return;
    }
    beginCall(kPingAnswerMs);
    const bool ok = m_store->ping(error);
    endCall();
    if (!ok) {
        m_store->close();
    }
    setDatabase(ok, ok ? QString() : error);
}

}  // namespace reburn3::serve
