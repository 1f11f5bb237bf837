// SPDX-License-Identifier: Apache-2.0
// The rows as stations share them: boards counted by how they ended, journal lines of an
// earlier version read back, and a real SQLite file of the old layout brought up to date,
// then read by station, round and slot.
#include <gtest/gtest.h>

#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include "serve/record_store.h"

namespace reburn3::serve {
namespace {

TEST(BoardTallyTest, CountsEachEndApartAndTheYieldOnlyOfTheDevicesVerdicts) {
    struct Case {
        const char* outcome;
        const char* reason;
        int BoardTally::*counted;
    };
    const Case cases[] = {
        {"completed", "completed", &BoardTally::completed},
        {"device-failed", "wrong-byte", &BoardTally::deviceFailed},
        {"device-failed", "no-reply", &BoardTally::deviceFailed},
        {"interrupted", "interrupted", &BoardTally::aborted},
        {"port-failed", "port-open-failed", &BoardTally::notOpened},
        {"device-lost", "device-lost", &BoardTally::otherFailed},
        {"port-failed", "write-failed", &BoardTally::otherFailed},
        {"log-failed", "wrong-byte", &BoardTally::otherFailed},
    };
    for (const Case& c : cases) {
        BoardTally t;
        t.add(c.outcome, c.reason, 2);
        EXPECT_EQ(t.boards, 2) << c.outcome;
        EXPECT_EQ(t.*c.counted, 2) << c.outcome << " " << c.reason;
    }
    BoardTally t;
    EXPECT_TRUE(t.yield().isNull());
    t.add("interrupted", "interrupted", 5);
    t.add("port-failed", "port-open-failed");
    EXPECT_TRUE(t.yield().isNull()) << "aborts and unopened ports are no verdict on a board";
    t.add("completed", "completed", 3);
    t.add("device-failed", "wrong-byte");
    EXPECT_DOUBLE_EQ(t.yield().toDouble(), 0.75);
    const QJsonObject o = t.json(true);
    EXPECT_EQ(o.value("boards").toInt(), 10);
    EXPECT_EQ(o.value("aborted").toInt(), 5);
    EXPECT_FALSE(t.json(false).contains("yield"));
}

TEST(BoardRowTest, JournalLinesOfEitherVersionReadBackTheCountDone) {
    // Before slots, a row's `records` was the count done and `recordsTotal` the script's.
    const BoardRow old = RecordStore::rowFromJson(QJsonObject{{"records", 7}, {"recordsTotal", 9}});
    EXPECT_EQ(old.records, 7);
    EXPECT_EQ(old.recordsTotal, 9);

    BoardRow row;
    row.recordId = "r1";
    row.records = 7;
    row.recordsTotal = 9;
    row.slot = "left";
    row.serial = "SN-1";
    const QJsonObject json = RecordStore::rowJson(3, row);
    EXPECT_EQ(json.value("records").toInt(), 9);
    EXPECT_EQ(json.value("recordsDone").toInt(), 7);
    EXPECT_EQ(json.value("recordsTotal").toInt(), 9);
    const BoardRow back = RecordStore::rowFromJson(json);
    EXPECT_EQ(back.records, 7);
    EXPECT_EQ(back.recordsTotal, 9);
    EXPECT_EQ(back.slot, "left");
    EXPECT_EQ(back.serial, "SN-1");
    EXPECT_TRUE(RecordStore::rowJson(4, BoardRow{}).value("serial").isNull());
}

BoardRow board(const QString& id, const QString& station, int round, const QString& slot,
               const QString& outcome) {
    BoardRow r;
    r.recordId = id;
    r.station = station;
    r.round = round;
    r.port = "/dev/tty" + slot;
    r.slot = slot;
    r.serial = "SN-" + id;
    r.outcome = outcome;
    r.reason = outcome == "completed" ? "completed" : "wrong-byte";
    r.endedAt = QStringLiteral("2026-12-01T10:00:0%1.000Z").arg(round);
    return r;
}

TEST(RecordStoreTest, AnOldTableGetsItsNewColumnsAndIsReadByStationRoundAndSlot) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath("old.sqlite");
    {
        // The layout of the version before slots, with one row.
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "old-layout");
        db.setDatabaseName(file);
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(
            "CREATE TABLE reburn3_records (id INTEGER PRIMARY KEY AUTOINCREMENT, round INTEGER "
            "NOT NULL, port TEXT NOT NULL, device TEXT NOT NULL, outcome TEXT NOT NULL, reason "
            "TEXT NOT NULL, records BIGINT NOT NULL, records_total BIGINT NOT NULL, seconds "
            "DOUBLE PRECISION NOT NULL, exit_code INTEGER NOT NULL, tags TEXT NOT NULL, station "
            "TEXT NOT NULL, script_sha256 TEXT NOT NULL, started_at TEXT NOT NULL, ended_at TEXT "
            "NOT NULL, result TEXT NOT NULL, record_id TEXT)"));
        ASSERT_TRUE(q.exec(
            "INSERT INTO reburn3_records VALUES (NULL, 1, 'COM3', '/dev/ttyS2', 'completed', "
            "'completed', 9, 9, 1.5, 0, '{\"serial\":\"OLD-1\"}', 'A', '', "
            "'2026-11-30T08:00:00.000Z', '2026-11-30T08:00:01.500Z', '{}', 'old-1')"));
        q.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase("old-layout");

    RecordStore store;
    QString error;
    ASSERT_TRUE(store.open("sqlite:" + file.toStdString(), error)) << error.toStdString();
    for (const BoardRow& r :
         {board("a1", "A", 2, "left", "completed"), board("a2", "A", 2, "right", "device-failed"),
          board("b1", "B", 2, "left", "completed")}) {
        ASSERT_TRUE(store.write(r, error)) << error.toStdString();
    }
    struct Read {
        RowFilter filter;
        QStringList ids;
    };
    const auto filter = [](QString station, std::optional<int> round, QString port) {
        RowFilter f;
        f.station = std::move(station);
        f.round = round;
        f.port = std::move(port);
        return f;
    };
    const Read reads[] = {
        {filter("A", std::nullopt, ""), {"old-1", "a1", "a2"}},
        {filter("A", 2, ""), {"a1", "a2"}},
        {filter("A", std::nullopt, "right"), {"a2"}},
        {filter("A", std::nullopt, "/dev/ttyleft"), {"a1"}},
        {filter("A", std::nullopt, "COM3"), {"old-1"}},
        {filter("B", std::nullopt, ""), {"b1"}},
        {filter("C", std::nullopt, ""), {}},
    };
    for (const Read& read : reads) {
        QStringList got;
        for (const QJsonValue& v : store.rows(read.filter, error)) {
            got << v.toObject().value("recordId").toString();
        }
        EXPECT_EQ(got, read.ids) << read.filter.station.toStdString() << " "
                                 << read.filter.port.toStdString();
    }
    // The old row's serial comes from its tags; its slot is empty.
    const QJsonObject old = store.rows(filter("A", 1, ""), error).first().toObject();
    EXPECT_EQ(old.value("serial").toString(), "OLD-1");
    EXPECT_EQ(old.value("slot").toString(), "");

    const std::optional<BoardTally> a = store.counts("A", error);
    ASSERT_TRUE(a.has_value()) << error.toStdString();
    EXPECT_EQ(a->boards, 3);
    EXPECT_EQ(a->completed, 2);
    EXPECT_EQ(a->deviceFailed, 1);
    EXPECT_DOUBLE_EQ(a->lastEnded, 1796119202.0);  // 2026-12-01T10:00:02Z

    // A second start finds the table as it left it.
    RecordStore again;
    ASSERT_TRUE(again.open("sqlite:" + file.toStdString(), error)) << error.toStdString();
    EXPECT_EQ(again.rows(filter("", std::nullopt, ""), error).size(), 4);
}

}  // namespace
}  // namespace reburn3::serve
