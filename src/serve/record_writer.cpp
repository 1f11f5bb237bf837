// SPDX-License-Identifier: Apache-2.0
#include "serve/record_writer.h"

namespace reburn3::serve {

RecordWriter::RecordWriter() : m_worker(new QObject) {
    m_thread.setObjectName(QStringLiteral("reburn3-records"));
    m_worker->moveToThread(&m_thread);
    m_thread.start();
}

RecordWriter::~RecordWriter() {
    // After every row queued before it: the connection is closed in its own thread.
    QMetaObject::invokeMethod(
        m_worker, [this] { m_store.reset(); }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
    delete m_worker;
}

bool RecordWriter::open(const std::string& url, QString& error) {
    bool ok = false;
    QMetaObject::invokeMethod(
        m_worker,
        [&] {
            m_store = std::make_unique<RecordStore>();
            ok = m_store->open(url, error);
        },
        Qt::BlockingQueuedConnection);
    return ok;
}

void RecordWriter::write(const BoardRow& row, QObject* context, Done done) {
    QMetaObject::invokeMethod(m_worker, [this, row, context, done = std::move(done)] {
        QString error;
        const std::optional<qint64> id = m_store->write(row, error);
        QMetaObject::invokeMethod(
            context, [done, id, error] { done(id, error); }, Qt::QueuedConnection);
    });
}

}  // namespace reburn3::serve
