// SPDX-License-Identifier: Apache-2.0
#include "serve/record_reader.h"

#include <QJsonDocument>
#include <QJsonObject>

#include "serve/http_service.h"
#include "serve/record_store.h"

namespace reburn3::serve {

namespace {

constexpr unsigned long kStopMs = 1'000;

// A field quoted for CSV. A text a spreadsheet would take for a formula (a tag, a port
// name, a detail can hold anything a scanner or a caller typed) is led by an apostrophe,
// so that opening the file never runs it.
QByteArray csvField(const QString& text, bool isText) {
    QString out = text;
    if (isText && !out.isEmpty() && QStringLiteral("=+-@\t\r").contains(out.front())) {
        out.prepend('\'');
    }
    out.replace('"', "\"\"");
    return "\"" + out.toUtf8() + "\"";
}

QByteArray csvOf(const QJsonArray& rows) {
    // The columns as they always were (`records` the count done, `recordsTotal` the
    // script's), then the ones added since at the end.
    static const char* const kColumns[] = {
        "id",           "round",        "port",    "device",   "outcome", "reason",
        "records",      "recordsTotal", "seconds", "exitCode", "tags",    "station",
        "scriptSha256", "startedAt",    "endedAt", "slot",     "serial",  "recordId"};
    QByteArray out;
    for (const char* c : kColumns) {
        out += (out.isEmpty() ? "" : ",") + QByteArray(c);
    }
    out += "\r\n";
    for (const QJsonValue& v : rows) {
        const QJsonObject row = v.toObject();
        QByteArray line;
        for (const char* c : kColumns) {
            // The CSV's `records` keeps its meaning: the count done.
            const QJsonValue field =
                row.value(QLatin1String(std::string_view(c) == "records" ? "recordsDone" : c));
            QString text;
            bool isText = true;
            if (field.isObject()) {
                text = QString::fromUtf8(
                    QJsonDocument(field.toObject()).toJson(QJsonDocument::Compact));
            } else if (field.isDouble()) {
                text = QString::number(field.toDouble(), 'g', 15);
                isText = false;
            } else {
                text = field.toString();
            }
            line += (line.isEmpty() ? "" : ",") + csvField(text, isText);
        }
        out += line + "\r\n";
    }
    return out;
}

}  // namespace

HttpReply recordsReply(const QJsonArray& rows, std::optional<qint64> since, bool csv) {
    if (csv) {
        HttpReply reply;
        reply.contentType = "text/csv; charset=utf-8";
        reply.body = csvOf(rows);
        reply.headers.emplace_back("Content-Disposition",
                                   "attachment; filename=\"reburn3-records.csv\"");
        return reply;
    }
    const qint64 next =
        rows.isEmpty() ? since.value_or(0) : rows.last().toObject().value("id").toInteger();
    return HttpReply::json(200, QJsonObject{{"records", rows}, {"next", next}});
}

RecordReader::RecordReader() : m_thread(new QThread), m_worker(new QObject) {
    m_thread->setObjectName(QStringLiteral("reburn3-reader"));
    m_worker->moveToThread(m_thread);
    m_thread->start();
    QMetaObject::invokeMethod(m_worker, [] { yieldToTicks(); });
}

RecordReader::~RecordReader() {
    close();
}

void RecordReader::close() {
    if (m_closed) {
        return;
    }
    m_closed = true;
    {
        const std::lock_guard<std::mutex> lock(m_open->lock);
        m_open->open = false;
    }
    // The connection is closed in its thread, after the reads queued before, and the
    // thread ends then; the lambda owns the store from here, so that a thread stuck until
    // after this reader is gone touches nothing of it.
    QMetaObject::invokeMethod(
        m_worker,
        [store = m_store.release()] {
            delete store;
            QThread::currentThread()->quit();
        },
        Qt::QueuedConnection);
    if (!m_thread->wait(kStopMs)) {
        // Stuck in the database: the service ends without it (its reads are answered
        // already, by the deadline); the process's end takes the thread.
        return;
    }
    delete m_worker;
    delete m_thread;
}

bool RecordReader::open(const std::string& url, QString& error) {
    bool ok = false;
    QMetaObject::invokeMethod(
        m_worker,
        [&] {
            m_store = std::make_unique<RecordStore>();
            // Connected at the first read: a database down at the start is no reason
            // not to start (the journal keeps the rows), and waits for no answer here.
            ok = m_store->configure(url, error);
        },
        Qt::BlockingQueuedConnection);
    return ok;
}

bool RecordReader::read(const RowFilter& filter, bool csv, QObject* context, Done done,
                        Render render) {
    if (m_waiting->fetch_add(1) >= kMaxWaiting) {
        m_waiting->fetch_sub(1);
        return false;
    }
    QMetaObject::invokeMethod(
        m_worker, [store = m_store.get(), waiting = m_waiting, open = m_open, filter, csv, context,
                   done = std::move(done), render = std::move(render)] {
            QString error;
            const QJsonArray rows = store->rows(filter, error);
            const HttpReply reply = !error.isEmpty() ? HttpReply::error(503, error)
                                    : render         ? render(rows)
                                                     : recordsReply(rows, filter.since, csv);
            waiting->fetch_sub(1);
            const std::lock_guard<std::mutex> lock(open->lock);
            if (open->open) {
                QMetaObject::invokeMethod(
                    context, [done, reply] { done(reply); }, Qt::QueuedConnection);
            }
        });
    return true;
}

}  // namespace reburn3::serve
