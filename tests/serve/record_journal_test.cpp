// SPDX-License-Identifier: Apache-2.0
// The journal of the station's records on a real folder, and the store's idempotent
// write on a real SQLite file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <memory>

#include "serve/record_journal.h"
#include "serve/record_store.h"

namespace reburn3::serve {
namespace {

RowFilter newest(int limit) {
    RowFilter f;
    f.limit = limit;
    return f;
}

BoardRow row(const QString& id, int round) {
    BoardRow r;
    r.recordId = id;
    r.round = round;
    r.port = "/dev/ttyUSB0";
    r.outcome = "completed";
    r.tags = QJsonObject{{"serial", "SN-" + id}};
    r.result = QJsonObject{{"records", 12347}, {"padding", QString(3000, 'x')}};
    return r;
}

QStringList ids(const std::vector<BoardRow>& rows) {
    QStringList out;
    for (const BoardRow& r : rows) {
        out << r.recordId;
    }
    return out;
}

TEST(RecordJournal, KeepsWhatTheDatabaseHasNotTakenAcrossRestartsAndTornLines) {
    QTemporaryDir dir;
    QString error;
    {
        RecordJournal j(dir.path());
        ASSERT_TRUE(j.open(error)) << error.toStdString();
        // A second service on the same folder is refused while the first runs.
        RecordJournal other(dir.path());
        EXPECT_FALSE(other.open(error));
        EXPECT_TRUE(error.contains("in use by another reburn3 serve")) << error.toStdString();

        ASSERT_TRUE(j.appendRound(7, error));
        for (const char* id : {"a", "b", "c", "d"}) {
            ASSERT_TRUE(j.appendBoard(row(id, 7), error));
        }
        ASSERT_TRUE(j.markDone("b", error));
        ASSERT_TRUE(j.markDone("d", error));
        ASSERT_TRUE(j.markDone("nobody", error));  // offered twice: nothing to do
        ASSERT_TRUE(j.appendRound(8, error));      // round 8 killed before any board ended
        EXPECT_EQ(j.pendingCount(), 2U);
    }
    // A crash in the middle of a line leaves it torn: it is ignored; a damaged line is
    // skipped, the file kept aside.
    {
        QFile f(QDir(dir.path()).filePath(RecordJournal::kFileName));
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write(R"(a line damaged on the disk
{"type":"done","recordId":"a"}
{"type":"board","row":{"recordId":"e","rou)");
    }
    const QString file = QDir(dir.path()).filePath(RecordJournal::kFileName);
    auto j = std::make_unique<RecordJournal>(dir.path());
    ASSERT_TRUE(j->open(error)) << error.toStdString();
    EXPECT_EQ(ids(j->pending()), QStringList{"c"});
    EXPECT_EQ(j->lastRound(), 8);
    EXPECT_TRUE(QFile::exists(file + ".damaged"));  // kept for whoever looks into it
    const std::vector<BoardRow> kept = j->pending();
    EXPECT_EQ(kept[0].tags, row("c", 7).tags);
    EXPECT_EQ(kept[0].result, row("c", 7).result);
    // Opened, it was rewritten with only the last round and what is pending.
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll().count('\n'), 2);
    f.close();
    // A line appended after a torn one reads back.
    ASSERT_TRUE(j->appendBoard(row("f", 9), error));
    j.reset();
    j = std::make_unique<RecordJournal>(dir.path());
    ASSERT_TRUE(j->open(error));
    EXPECT_EQ(ids(j->pending()), (QStringList{"c", "f"}));
    EXPECT_EQ(j->lastRound(), 9);
}

TEST(RecordJournal, StaysSmallHoweverManyBoardsPass) {
    QTemporaryDir dir;
    QString error;
    RecordJournal j(dir.path());
    ASSERT_TRUE(j.open(error));
    ASSERT_TRUE(j.appendBoard(row("waiting", 1), error));  // the database never takes it
    for (int i = 0; i < 500; ++i) {
        const QString id = QString::number(i);
        ASSERT_TRUE(j.appendBoard(row(id, i + 2), error));
        ASSERT_TRUE(j.markDone(id, error)) << error.toStdString();
    }
    EXPECT_LT(QFileInfo(j.path()).size(), 2 * RecordJournal::kCompactBytes + 4096);
    EXPECT_EQ(ids(j.pending()), QStringList{"waiting"});
    EXPECT_EQ(j.lastRound(), 501);
}

// A FIFO (or a folder) where the journal should be is refused at once, not waited on.
TEST(RecordJournal, RefusesAJournalThatIsNoFile) {
    QTemporaryDir dir;
    ASSERT_EQ(
        ::mkfifo(QFile::encodeName(QDir(dir.path()).filePath(RecordJournal::kFileName)), 0600), 0);
    QString error;
    RecordJournal j(dir.path());
    EXPECT_FALSE(j.open(error));
    EXPECT_TRUE(error.endsWith("is not a regular file")) << error.toStdString();
}

// The same row offered twice (a retry after a commit whose answer was lost, a journal
// replayed after a crash) is one row; a deleted file is noticed and made again.
TEST(RecordStore, WritesARecordIdOnceAndNoticesItsFileReplaced) {
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath("records.sqlite");
    QString error;
    RecordStore store;
    ASSERT_TRUE(store.open(("sqlite:" + path).toStdString(), error)) << error.toStdString();
    const std::optional<qint64> first = store.write(row("x", 1), error);
    ASSERT_TRUE(first) << error.toStdString();
    EXPECT_EQ(store.write(row("x", 1), error), first);
    ASSERT_TRUE(store.write(row("y", 1), error));
    EXPECT_EQ(store.rows(newest(10), error).size(), 2);
    EXPECT_EQ(store.lastRound("", error), 1);

    EXPECT_FALSE(store.fileReplaced());
    for (const char* suffix : {"", "-wal", "-shm"}) {
        QFile::remove(path + suffix);
    }
    EXPECT_TRUE(store.fileReplaced());
    ASSERT_TRUE(store.connect(error)) << error.toStdString();
    EXPECT_FALSE(store.fileReplaced());
    EXPECT_EQ(store.rows(newest(10), error).size(), 0);
    ASSERT_TRUE(store.write(row("x", 1), error));
    EXPECT_EQ(store.rows(newest(10), error)[0].toObject()["recordId"], "x");
}

}  // namespace
}  // namespace reburn3::serve
