// SPDX-License-Identifier: Apache-2.0
// End to end: several ports in one `reburn3 flash`, the station loop, retries and
// waiting for a late port, each against simulated devices on real pseudo-terminals.

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/e2e_support.h"

namespace {

using namespace e2e;

class GangTest : public E2eTest {
protected:
    // `count` simulated devices, each recording into its own file.
    std::vector<std::unique_ptr<Device>> devices(int count, const QString& script,
                                                 const std::vector<QStringList>& faults = {}) {
        std::vector<std::unique_ptr<Device>> out;
        for (int i = 0; i < count; ++i) {
            const QStringList f = static_cast<std::size_t>(i) < faults.size()
                                      ? faults[static_cast<std::size_t>(i)]
                                      : QStringList{};
            out.push_back(std::make_unique<Device>(script, f, path(QString("rec%1.bin").arg(i))));
            EXPECT_TRUE(out.back()->ok());
        }
        return out;
    }
    static QStringList portArgs(const std::vector<std::unique_ptr<Device>>& devs) {
        QStringList args;
        for (const auto& d : devs) {
            args << "--port" << d->port();
        }
        return args;
    }
    // The JSON result lines of a run, by port.
    static std::map<QString, QJsonObject> resultsByPort(const Outcome& o) {
        std::map<QString, QJsonObject> results;
        for (const QString& line : o.outLines()) {
            const QJsonObject j = QJsonDocument::fromJson(line.toUtf8()).object();
            if (j.value("type") == "result") {
                results[j.value("port").toString()] = j;
            }
        }
        return results;
    }
};

// The bytes a device received from a single run of `script`, as the reference.
QByteArray singleRunBytes(const QString& script, const QString& record) {
    Device dev(script, {}, record);
    const Outcome o = runReburn3({"flash", "--port", dev.port(), script});
    EXPECT_EQ(o.exitCode, 0) << o.err.toStdString();
    return dev.received();
}

TEST_F(GangTest, FourPortsCompleteByteIdenticalToASingleRunEachLineTaggedWithItsPort) {
    const std::vector<std::string> records = manyLines(40);
    const QString script = writeScript("gang.pf3", scriptOf(records));
    const QByteArray single = singleRunBytes(script, path("single.bin"));
    ASSERT_FALSE(single.isEmpty());

    auto devs = devices(4, script);
    const Outcome o = runReburn3(QStringList{"flash", "--json"} + portArgs(devs) << script);
    ASSERT_TRUE(o.finished);
    EXPECT_EQ(o.exitCode, 0) << o.err.toStdString();
    const auto results = resultsByPort(o);
    ASSERT_EQ(results.size(), 4u);
    for (auto& d : devs) {
        EXPECT_EQ(results.at(d->port()).value("result"), "completed");
        EXPECT_EQ(results.at(d->port()).value("attempts"), 1);
        // Each log line is told once per port, with that port.
        EXPECT_EQ(o.out.count("\"port\":\"" + d->port() + "\",\"text\":\"Processing complete."), 1)
            << d->port().toStdString();
        EXPECT_EQ(d->received().toHex(), single.toHex());
    }
    // Every line on stdout carries its port; the summary table names every port.
    for (const QString& line : o.outLines()) {
        EXPECT_TRUE(line.contains("\"port\":\"")) << line.toStdString();
    }
    for (auto& d : devs) {
        EXPECT_TRUE(o.err.contains(
            QRegularExpression(QRegularExpression::escape(d->port()) + " +completed +- +120/120")))
            << o.err.toStdString();
    }
}

TEST_F(GangTest, OneUnpluggedPortFailsAloneWhileTheOthersComplete) {
    const std::vector<std::string> records = manyLines(60);
    const QString script = writeScript("gang.pf3", scriptOf(records));
    const QByteArray single = singleRunBytes(script, path("single.bin"));
    auto devs = devices(4, script, {{}, {"--unplug-at", "30"}, {}, {}});
    const Outcome o = runReburn3(QStringList{"flash"} + portArgs(devs) << script);
    ASSERT_TRUE(o.finished);
    EXPECT_EQ(o.exitCode, 4) << o.err.toStdString();
    const QString lost = devs[1]->port();
    EXPECT_TRUE(o.err.contains("[" + lost + "] reburn3: FAILED (exit 4)")) << o.err.toStdString();
    for (int i : {0, 2, 3}) {
        EXPECT_TRUE(
            o.err.contains("[" + devs[static_cast<std::size_t>(i)]->port() + "] reburn3: DONE"))
            << o.err.toStdString();
        EXPECT_EQ(devs[static_cast<std::size_t>(i)]->received().toHex(), single.toHex());
    }
    // Plain lines carry their port in front.
    EXPECT_TRUE(o.out.contains("[" + lost + "] COM port initialized and opened."));
}

// The command's own end comes last: the verdict on stderr, the summary on stdout.
TEST_F(GangTest, AMissingPortEndsTheCommandInOneVerdictAndOneSummary) {
    const QString script = writeScript("tiny.pf3", scriptOf(kTiny));
    auto devs = devices(2, script);
    const QString missing = path("missing");
    const Outcome o = runReburn3(QStringList{"flash", "--json"} + portArgs(devs)
                                 << "--port" << missing << script);
    EXPECT_EQ(o.exitCode, 4) << o.err.toStdString();
    EXPECT_EQ(resultsByPort(o).size(), 3u);
    const QJsonObject s = QJsonDocument::fromJson(o.outLines().last().toUtf8()).object();
    EXPECT_EQ(s.value("type"), "summary");
    EXPECT_EQ(s.value("exitCode"), o.exitCode);
    EXPECT_EQ(s.value("boards").toObject(),
              QJsonObject({{"total", 3}, {"completed", 2}, {"failed", 1}}));
    EXPECT_EQ(s.value("reasons").toObject().size(), 1);
    EXPECT_EQ(s.value("ports").toArray().last().toObject().value("port"), missing);
    EXPECT_TRUE(o.err.trimmed().split('\n').last().startsWith(
        "reburn3: FAILED (exit 4): 2 of 3 boards completed; " + missing + " "))
        << o.err.toStdString();
}

TEST_F(GangTest, CtrlCAbortsEveryPortAndReleasesThem) {
    const QString script = writeScript("long.pf3", scriptOf(manyLines(400)));
    auto devs = devices(3, script);
    QProcess p;
    p.start(kReburn3, QStringList{"flash", "--json"} + portArgs(devs) << script);
    QString seen;
    ASSERT_TRUE(waitForOutput(p, "Processing ...", seen));
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    const Outcome o = collect(p, seen);
    ASSERT_TRUE(o.finished);
    EXPECT_EQ(o.exitCode, 130);
    const auto results = resultsByPort(o);
    ASSERT_EQ(results.size(), 3u);
    for (auto& d : devs) {
        EXPECT_EQ(results.at(d->port()).value("result"), "interrupted");
        const int fd = ::open(d->port().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
        ::close(fd);
    }
}

TEST_F(GangTest, ARefusedScriptOpensNoPort) {
    const QString script = writeScript("bad.pf3", "T5A:XYZ:E\r\n:");
    const Outcome o = runReburn3(
        {"flash", "--json", "--port", path("nowhere1"), "--port", path("nowhere2"), script});
    EXPECT_EQ(o.exitCode, 3);
    EXPECT_EQ(resultsByPort(o).size(), 2u);
    EXPECT_FALSE(o.err.contains("could not be opened"));
    EXPECT_FALSE(o.out.contains("COM port initialized"));
}

// Three boards on one cable; the second answers wrongly. `link` is where they appear.
std::unique_ptr<Device> threeBoards(const QString& script, const QString& link,
                                    const QString& record, const QString& gapMs = "500") {
    return std::make_unique<Device>(
        script,
        QStringList{"--boards", "3", "--link", link, "--faults-on-board", "2", "--wrong-byte-at",
                    "2", "--replug-gap", gapMs},
        record);
}

// The rounds in a --log file: round number and result, in order.
QStringList roundsLogged(const QString& log) {
    QFile f(log);
    QStringList rounds;
    if (!f.open(QIODevice::ReadOnly)) {
        return rounds;
    }
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QJsonObject j = QJsonDocument::fromJson(line).object();
        if (!j.isEmpty()) {
            rounds
                << QString("%1 %2").arg(j.value("round").toInt()).arg(j.value("result").toString());
        }
    }
    return rounds;
}

// Waits until `path` exists (or no longer does).
bool waitForPath(const QString& path, bool present) {
    QElapsedTimer clock;
    clock.start();
    while (QFile::exists(path) != present && clock.elapsed() < kProcessLimitMs) {
        QThread::msleep(10);
    }
    return QFile::exists(path) == present;
}

const QStringList kThreeRounds{"1 completed", "2 device-failed", "3 completed"};

TEST_F(GangTest, StationRoundsOnEnterThroughATerminalOnStandardInput) {
    const QString script = writeScript("tiny.pf3", scriptOf(kTiny));
    auto boards = threeBoards(script, path("cable"), path("boards.bin"));
    ASSERT_TRUE(boards->ok());
    int master = -1;
    int slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    char name[256];
    ASSERT_EQ(::ttyname_r(slave, name, sizeof name), 0);
    QProcess p;
    p.setStandardInputFile(QString::fromLocal8Bit(name));
    p.start(kReburn3, {"flash", "--station", "--port", path("cable"), "--log", path("log.jsonl"),
                       "--progress", "none", script});
    ASSERT_TRUE(p.waitForStarted());
    QString err;
    auto waitForErr = [&](const QString& text, int count) {
        QElapsedTimer clock;
        clock.start();
        while (err.count(text) < count && clock.elapsed() < kProcessLimitMs &&
               p.state() == QProcess::Running) {
            p.waitForReadyRead(100);
            err += QString::fromUtf8(p.readAllStandardError());
            p.readAllStandardOutput();
        }
        return err.count(text) >= count;
    };
    p.setReadChannel(QProcess::StandardError);
    for (int round = 1; round <= 2; ++round) {
        ASSERT_TRUE(waitForErr("press Enter", round)) << err.toStdString();
        // The operator changes the board: the cable's port goes and the next one comes.
        ASSERT_TRUE(waitForPath(path("cable"), false));
        ASSERT_TRUE(waitForPath(path("cable"), true));
        ASSERT_EQ(::write(master, "\n", 1), 1);
    }
    ASSERT_TRUE(waitForErr("press Enter", 3));
    ASSERT_EQ(::write(master, "q\n", 2), 2);
    ASSERT_TRUE(p.waitForFinished(kProcessLimitMs));
    err += QString::fromUtf8(p.readAllStandardError());
    ::close(master);
    ::close(slave);
    EXPECT_EQ(p.exitCode(), 1) << err.toStdString();
    EXPECT_TRUE(err.contains("reburn3: round 2: passed 1, failed 1"));
    EXPECT_TRUE(err.contains("reburn3: station ended: passed 2, failed 1"));
    EXPECT_EQ(roundsLogged(path("log.jsonl")), kThreeRounds);
}

// A replug of 10 ms, the node back under the same number, is seen through the kernel's
// notice of the removal, not missed between two looks.
TEST_F(GangTest, StationRoundsOnReplug) {
    const QString script = writeScript("tiny.pf3", scriptOf(kTiny));
    auto boards = threeBoards(script, path("cable"), path("boards.bin"), "10");
    ASSERT_TRUE(boards->ok());
    QProcess p;
    p.start(kReburn3, {"flash", "--station=replug", "--port", path("cable"), "--log",
                       path("log.jsonl"), script});
    QString err;
    QElapsedTimer clock;
    clock.start();
    while (!err.contains("round 3:") && clock.elapsed() < kProcessLimitMs) {
        p.waitForReadyRead(100);
        err += QString::fromUtf8(p.readAllStandardError());
        p.readAllStandardOutput();
    }
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    ASSERT_TRUE(p.waitForFinished(kProcessLimitMs));
    err += QString::fromUtf8(p.readAllStandardError());
    // Ctrl-C while waiting for the next board ends the station; it adds no failure.
    EXPECT_EQ(p.exitCode(), 1) << err.toStdString();
    EXPECT_TRUE(err.contains("reburn3: station ended: passed 2, failed 1")) << err.toStdString();
    EXPECT_EQ(roundsLogged(path("log.jsonl")), kThreeRounds);
}

TEST_F(GangTest, RetriesStartAgainOnlyWhileNothingOfTheScriptWentOut) {
    const QString script = writeScript("tiny.pf3", scriptOf(kTiny));
    {
        // One board, two attempts: one result and one log line, and no FAILED verdict.
        auto dev = device(script, {"--ignore-handshakes", "1"});
        const Outcome o = runReburn3({"flash", "--retries", "2", "--json", "--log",
                                      path("retry.jsonl"), "--port", dev->port(), script});
        EXPECT_EQ(o.exitCode, 0) << o.err.toStdString();
        EXPECT_EQ(o.out.count("\"type\":\"result\""), 1);
        const QJsonObject r = resultsByPort(o).begin()->second;
        EXPECT_EQ(r.value("attempts"), 2);
        EXPECT_EQ(r.value("attemptReasons").toArray(), QJsonArray({"no-reply"}));
        EXPECT_TRUE(
            o.out.contains("\"attempt\":2,\"event\":\"retry\",\"failed\":\"no-reply\",\"of\":3"))
            << o.out.toStdString();
        EXPECT_FALSE(o.err.contains("FAILED"));
        EXPECT_EQ(roundsLogged(path("retry.jsonl")), QStringList{"0 completed"});
        auto again = device(script, {"--ignore-handshakes", "1"});
        const Outcome text =
            runReburn3({"flash", "--retries", "1", "--port", again->port(), script});
        EXPECT_TRUE(text.err.contains("reburn3: attempt 1 failed: no-reply; trying again"));
        EXPECT_FALSE(text.err.contains("FAILED")) << text.err.toStdString();
        QByteArray expected("\xE1\x94\xE1\x94");
        expected += sentBytesOf(kTiny);
        EXPECT_EQ(dev->received().toHex(' '), expected.toHex(' '));
    }
    {
        // A wrong answer after the first script byte: never tried again.
        auto dev = device(script, {"--wrong-byte-at", "1"});
        const Outcome o = runReburn3({"flash", "--retries", "2", "--port", dev->port(), script});
        EXPECT_EQ(o.exitCode, 1);
        EXPECT_FALSE(o.err.contains("attempt 2"));
        EXPECT_TRUE(o.err.contains("partly programmed"));
    }
    // Every answer late, by more than the handshake's window: each lands after its attempt
    // gave up, during the quiet wait before the next, and counts for no later attempt.
    // Nothing of the script goes out.
    for (const auto& [late, retries] : {std::pair{"400", 2}, {"700", 1}, {"1500", 1}}) {
        auto dev = device(script, {"--stay", "--late", late});
        const Outcome o = runReburn3({"flash", "--retries", QString::number(retries), "--json",
                                      "--port", dev->port(), script});
        EXPECT_EQ(o.exitCode, 1) << late << o.err.toStdString();
        const QJsonObject r = resultsByPort(o).begin()->second;
        EXPECT_EQ(r.value("attempts"), retries + 1) << late;
        EXPECT_EQ(r.value("reason"), "no-reply") << late;
        EXPECT_EQ(r.value("partlyProgrammed"), false) << late;
        EXPECT_EQ(dev->received().toHex(' '),
                  QByteArray("\xE1\x94").repeated(retries + 1).toHex(' '))
            << late;
    }
}

// A name pattern stands for the one device it matches; none or several start nothing.
TEST_F(GangTest, APortNamedByPatternIsTheOneDeviceItMatches) {
    const QString script = writeScript("tiny.pf3", scriptOf(kTiny));
    auto devs = devices(2, script, {{"--link", path("slotA")}, {"--link", path("slotB")}});
    const Outcome two = runReburn3({"flash", "--port", path("slot*"), script});
    EXPECT_EQ(two.exitCode, 4);
    EXPECT_TRUE(two.err.contains("NOT STARTED (exit 4): 2 devices match " + path("slot*") + ": " +
                                 path("slotA") + " " + path("slotB")))
        << two.err.toStdString();
    const Outcome none = runReburn3({"flash", "--json", "--port", "serial=NO-SUCH-*", script});
    EXPECT_EQ(none.exitCode, 4);
    EXPECT_TRUE(none.out.contains("\"reason\":\"port-open-failed\""));
    const Outcome one = runReburn3({"flash", "--json", "--port", path("slot[B]"), script});
    EXPECT_EQ(one.exitCode, 0) << one.err.toStdString();
    EXPECT_EQ(devs[1]->received().toHex(' '),
              (QByteArray("\xE1\x94") + sentBytesOf(kTiny)).toHex(' '));
    EXPECT_TRUE(devs[0]->received().isEmpty());
}

TEST_F(GangTest, WaitForPortFollowsALateAdapterAndGivesUpInTime) {
    const QString script = writeScript("tiny.pf3", scriptOf(kTiny));
    auto dev = device(script, {"--link", path("late"), "--link-delay", "1"});
    const Outcome o = runReburn3({"flash", "--wait-for-port", "5", "--port", path("late"), script});
    EXPECT_EQ(o.exitCode, 0) << o.err.toStdString();
    EXPECT_TRUE(o.err.contains("waiting for " + path("late")));

    // A port there but held by another process (an advisory lock) is waited for too.
    auto held = device(script);
    const int holder =
        ::open(held->port().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    QProcess p;
    p.setReadChannel(QProcess::StandardError);
    p.start(kReburn3, {"flash", "--wait-for-port", "10", "--port", held->port(), script});
    QString err;
    while (!err.contains("waiting for") && p.waitForReadyRead(kProcessLimitMs)) {
        err += QString::fromUtf8(p.readAllStandardError());
    }
    ::close(holder);
    ASSERT_TRUE(p.waitForFinished(kProcessLimitMs));
    EXPECT_EQ(p.exitCode(), 0) << (err + p.readAllStandardError()).toStdString();
    EXPECT_EQ(held->received().toHex(' '),
              (QByteArray("\xE1\x94") + sentBytesOf(kTiny)).toHex(' '));

    QElapsedTimer clock;
    clock.start();
    const Outcome never =
        runReburn3({"flash", "--wait-for-port", "0.5", "--port", path("never"), script});
    EXPECT_EQ(never.exitCode, 4);
    EXPECT_TRUE(never.err.contains(path("never") + " did not appear within 0.5 s"));
    EXPECT_GE(clock.elapsed(), 500);
}

}  // namespace
