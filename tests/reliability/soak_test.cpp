// SPDX-License-Identifier: Apache-2.0
// Soak: `reburn3 flash --repeat N` downloads a small script N times in a row, in one
// process, into a simulated device that stays on the line. Every run must complete, the
// device must receive exactly N downloads, and the process must hold as much memory and
// as many open files after the last run as after the tenth.
//
// N is 30 by default; REBURN3_SOAK_RUNS=1000 runs the long version.

#include <QJsonDocument>
#include <QJsonObject>

#include <signal.h>

#include <cstdlib>

#include "reliability/harness.h"

namespace reburn3::reliability {
namespace {

constexpr int kDefaultRuns = 30;
// Resident memory may move by a few pages as the allocator settles; a leak of even one
// small allocation per run would show as far more than this over the runs after the tenth.
constexpr qint64 kRssSlackKb = 512;

int soakRuns() {
    const char* value = std::getenv("REBURN3_SOAK_RUNS");
    const int runs = value != nullptr ? std::atoi(value) : kDefaultRuns;
    return runs >= 10 ? runs : kDefaultRuns;
}

class Soak : public ReliabilityTest {};

TEST_F(Soak, EveryDownloadCompletesAndNothingGrows) {
    const int runs = soakRuns();
    const QByteArray bytes = scriptOf({"T5A", "T01", "R91", "E", "T02", "R26", "E"});
    const QString script = writeScript("tiny.pf3", bytes);
    // A device that serves download after download; its lifetime is only a safety net
    // (a download takes about a third of a second).
    Device dev(script, {"--stay"}, path("received.bin"), 60 + runs);
    ASSERT_TRUE(dev.ok());

    QProcess p;
    startReburn3(
        p, {"flash", "--json", "--repeat", QString::number(runs), "--port", dev.port(), script});
    ASSERT_TRUE(p.waitForFinished((60 + runs) * 1000)) << "the series did not end";
    const Outcome o = collect(p);
    ASSERT_EQ(o.exitCode, 0) << o.err.toStdString();

    int completed = 0;
    std::vector<QJsonObject> reports;
    for (const QString& line : o.out.split('\n', Qt::SkipEmptyParts)) {
        const QJsonObject object = QJsonDocument::fromJson(line.toUtf8()).object();
        if (object.value("result").toString() == "completed") {
            ++completed;
        }
        if (object.value("event").toString() == "repeat") {
            reports.push_back(object);
        }
    }
    EXPECT_EQ(completed, runs);
    ASSERT_EQ(reports.size(), static_cast<std::size_t>((runs + 9) / 10));
    const QJsonObject& tenth = reports.front();
    const QJsonObject& last = reports.back();
    EXPECT_EQ(tenth.value("run").toInt(), 10);
    EXPECT_EQ(last.value("run").toInt(), runs);
    EXPECT_EQ(last.value("exitCode").toInt(-1), 0);

    const qint64 rss10 = tenth.value("vmRssKb").toInteger();
    const qint64 rssLast = last.value("vmRssKb").toInteger();
    const qint64 fds10 = tenth.value("openFds").toInteger();
    const qint64 fdsLast = last.value("openFds").toInteger();
    std::printf(
        "soak: %d runs; after run 10: VmRSS %lld kB, %lld open files; after run %d: "
        "VmRSS %lld kB, %lld open files\n",
        runs, static_cast<long long>(rss10), static_cast<long long>(fds10), runs,
        static_cast<long long>(rssLast), static_cast<long long>(fdsLast));
    RecordProperty("runs", runs);
    RecordProperty("vmRssKbAfter10", static_cast<int>(rss10));
    RecordProperty("vmRssKbAfterLast", static_cast<int>(rssLast));
    RecordProperty("openFdsAfter10", static_cast<int>(fds10));
    RecordProperty("openFdsAfterLast", static_cast<int>(fdsLast));
    EXPECT_GT(rss10, 0);
    EXPECT_GT(fds10, 0);
    EXPECT_EQ(fdsLast, fds10);
#ifndef __SANITIZE_ADDRESS__
    EXPECT_LE(rssLast, rss10 + kRssSlackKb);
#else
    // AddressSanitizer keeps freed memory in quarantine, so resident memory grows by
    // design; a leak is LeakSanitizer's to find when the process ends.
#endif

    // The device received the handshake and the script's bytes, once per run.
    QByteArray expected;
    for (int i = 0; i < runs; ++i) {
        expected += downloadOf(bytes);
    }
    EXPECT_EQ(dev.received().toHex(), expected.toHex());
}

TEST_F(Soak, TheSeriesStopsAtTheFirstFailureWithItsExitCode) {
    const QString script = writeScript("tiny.pf3", scriptOf({"T5A", "R91", "E"}));
    // Not staying: the device serves one download, then stays silent (it has ended).
    Device dev(script, {}, path("received.bin"));
    ASSERT_TRUE(dev.ok());
    const Outcome o = runReburn3({"flash", "--repeat", "5", "--port", dev.port(), script});
    ASSERT_TRUE(o.finished);
    EXPECT_NE(o.exitCode, 0);
    const QStringList out = o.outLines();
    EXPECT_EQ(out.count("Processing complete.  Exit this application."), 1);
    const QStringList err = o.errLines();
    ASSERT_FALSE(err.isEmpty());
    EXPECT_TRUE(
        err.back().startsWith(QString("reburn3: run 2 of 5: exit %1, VmRSS ").arg(o.exitCode)))
        << o.err.toStdString();
}

TEST_F(Soak, CtrlCInALaterRunAbortsItAndEndsTheSeries) {
    const QString script = writeScript("lines.pf3", linesScript(200, 1, 7));
    Device dev(script, {"--stay"}, path("received.bin"));
    ASSERT_TRUE(dev.ok());
    QProcess p;
    startReburn3(p, {"flash", "--repeat", "5", "--port", dev.port(), script});
    QString seen;
    ASSERT_TRUE(waitForOutput(p, "Processing complete.  Exit this application.", seen));
    // Well into the second run.
    seen.clear();
    ASSERT_TRUE(waitForOutput(p, "Processing ...   30", seen)) << seen.toStdString();
    const Outcome o = interruptRun(p, seen);
    ASSERT_TRUE(o.finished);
    const QStringList err = o.errLines();
    ASSERT_FALSE(err.isEmpty());
    EXPECT_TRUE(err.back().startsWith("reburn3: run 2 of 5: exit 130, VmRSS "))
        << o.err.toStdString();
}

TEST_F(Soak, RepeatNeedsAPositiveCount) {
    const QString script = writeScript("tiny.pf3", scriptOf({"T5A", "R91", "E"}));
    for (const char* count : {"0", "-3", "many"}) {
        EXPECT_EQ(runReburn3({"flash", "--repeat", count, "--port", "COM1", script}).exitCode, 2)
            << count;
    }
}

}  // namespace
}  // namespace reburn3::reliability
