// SPDX-License-Identifier: Apache-2.0
// End to end: the `reburn3` binary downloads through the real QSerialPort driver into the
// simulated ORX-716 (`reburn3 simulate`) on a real pseudo-terminal. Every test runs both
// as separate processes and judges exit codes, output lines and the bytes the device got.
// The device, port and script faults run end to end in the fault matrix
// (tests/reliability); these cases cover the command line itself: a whole download, the
// JSON stream, Ctrl-C, --reactive, check, ports and usage.

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "json/json_lines_check.h"

#include "e2e/e2e_support.h"

namespace {

using namespace e2e;

TEST_F(E2eTest, ACompleteDownloadSendsTheHandshakeAndEveryScriptByte) {
    const QString script = writeScript("tiny.pf3", scriptOf(kTiny));
    auto dev = device(script);
    const Outcome o =
        runReburn3({"flash", "--port", dev->port(), "--trace", path("trace.txt"), script});
    ASSERT_TRUE(o.finished);
    EXPECT_EQ(o.exitCode, 0) << o.err.toStdString();
    const QStringList lines = o.outLines();
    ASSERT_GE(lines.size(), 4);
    EXPECT_EQ(lines.front(), "COM port initialized and opened.");
    EXPECT_EQ(o.countOut("Processing complete.  Exit this application."), 1);
    EXPECT_EQ(lines.back(), "Program terminated.");
    EXPECT_TRUE(lines.contains("Closed COM port: 1"));
    EXPECT_TRUE(o.err.contains("Starting reBURN of ORX-716 interface.\n"));
    EXPECT_FALSE(o.out.contains("Starting reBURN"));  // debug lines go to stderr only

    QByteArray expected("\xE1\x94");
    expected += sentBytesOf(kTiny);
    EXPECT_EQ(dev->received().toHex(' '), expected.toHex(' '));

    // The trace tells the same story from the host's side, tick by tick.
    QFile trace(path("trace.txt"));
    ASSERT_TRUE(trace.open(QIODevice::ReadOnly));
    QByteArray traced;
    QByteArray answered;
    for (const QByteArray& line : trace.readAll().split('\n')) {
        const QList<QByteArray> f = line.split(' ');
        if (f.size() == 3 && !line.startsWith('#')) {
            (f[1] == "TX" ? traced : answered) += static_cast<char>(f[2].toInt(nullptr, 16));
        }
    }
    EXPECT_EQ(traced.toHex(' '), expected.toHex(' '));
    EXPECT_EQ(answered.toHex(' '), QByteArray("\x91\x26\x91\x26").toHex(' '));
}

TEST_F(E2eTest, CtrlCAbortsTheRunPostsTheClosingLinesAndExits130) {
    // A long run (every line waits for the device once), so that the interrupt surely
    // comes in the middle of it.
    const std::vector<std::string> records = manyLines(300);
    const QString script = writeScript("long.pf3", scriptOf(records));
    auto dev = device(script);
    QProcess p;
    p.start(kReburn3, {"flash", "--port", dev->port(), script});
    QString seen;
    ASSERT_TRUE(waitForOutput(p, "Processing ...   ", seen));
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    const Outcome o = collect(p, seen);
    ASSERT_TRUE(o.finished);
    EXPECT_EQ(o.exitCode, 130);
    EXPECT_EQ(o.countOut("Completing or Aborting operations."), 1);
    EXPECT_EQ(o.countOut("If aborting, cycle interface power before trying again."), 1);
    EXPECT_EQ(o.countOut("Closed COM port: 1"), 1);
    EXPECT_TRUE(o.err.contains("Stop time:    "));
    EXPECT_EQ(o.countOut("Processing complete.  Exit this application."), 0);
    // The port was released: another program can open it at once.
    const int fd = ::open(dev->port().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    ::close(fd);
}

TEST_F(E2eTest, JsonLinesCarryEveryLineAndTheResult) {
    const QString script = writeScript("tiny.pf3", scriptOf(kTiny));
    auto dev = device(script);
    const Outcome o = runReburn3({"flash", "--json", "--port", dev->port(), script});
    ASSERT_TRUE(o.finished);
    ASSERT_EQ(o.exitCode, 0) << o.err.toStdString();
    // Standard error holds the first line and the verdict, nothing else.
    const QStringList err = o.err.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(err.size(), 2) << o.err.toStdString();
    // The version and commit as --version says them, before the device.
    const QString version = runReburn3({"--version"}).out.section(" Qt ", 0, 0).mid(8);
    EXPECT_TRUE(err[0].startsWith("reburn3 " + version + ": " + dev->port() + ", script "))
        << err[0].toStdString();
    EXPECT_TRUE(err[1].startsWith("reburn3: DONE: 7 records, 2 lines in "));

    std::vector<QJsonObject> objects;
    for (const QString& line : o.outLines()) {
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(line.toUtf8(), &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        ASSERT_TRUE(doc.isObject());
        objects.push_back(doc.object());
    }
    ASSERT_GE(objects.size(), 3U);
    for (const QJsonObject& object : objects) {
        EXPECT_TRUE(object.contains("type"));
    }
    EXPECT_EQ(objects.front().value("type").toString(), "log");
    EXPECT_EQ(objects.front().value("log").toString(), "status");
    EXPECT_EQ(objects.front().value("text").toString(), "COM port initialized and opened.");
    int complete = 0;
    int starting = 0;
    for (std::size_t i = 0; i + 1 < objects.size(); ++i) {
        const QString text = objects[i].value("text").toString();
        const QString log = objects[i].value("log").toString();
        complete += text == "Processing complete.  Exit this application." && log == "status";
        starting += text == "Starting reBURN of ORX-716 interface." && log == "debug";
    }
    EXPECT_EQ(complete, 1);
    EXPECT_EQ(starting, 1);

    const QJsonObject result = objects.back();
    EXPECT_EQ(result.value("type").toString(), "result");
    EXPECT_EQ(result.value("result").toString(), "completed");
    EXPECT_EQ(result.value("reason").toString(), "completed");
    EXPECT_EQ(result.value("exitCode").toInt(-1), 0);
    EXPECT_FALSE(result.value("partlyProgrammed").toBool());
    // One version everywhere: the project's, and the commit as a field of its own.
    const QStringList versionWords = runReburn3({"--version"}).out.split(' ');
    EXPECT_EQ(result.value("version").toString(), versionWords.value(1));
    const QString commit = result.value("commit").toString();
    EXPECT_EQ(commit.isEmpty() ? QString("Qt") : "(commit", versionWords.value(2));
    if (!commit.isEmpty()) {
        EXPECT_EQ("(commit " + commit + ")", versionWords.mid(2, 2).join(' '));
    }
    EXPECT_EQ(result.value("script").toString(), script);
    EXPECT_EQ(result.value("device").toString(), dev->port());
    EXPECT_TRUE(result.value("startedAt").toString().endsWith('Z'));
    EXPECT_EQ(result.value("records").toInt(), 7);
    EXPECT_EQ(result.value("recordsDone").toInt(), 7);
    EXPECT_EQ(result.value("bytesToSend").toInt(), 3);
    EXPECT_EQ(result.value("bytesToVerify").toInt(), 2);
    EXPECT_EQ(result.value("bytesSent").toInt(), 5);
    EXPECT_EQ(result.value("bytesReceived").toInt(), 4);
    EXPECT_EQ(result.value("port").toString(), dev->port());
    EXPECT_GT(result.value("durationMs").toInt(), 0);
    EXPECT_EQ(result.value("sha256").toString(),
              QString::fromLatin1(
                  QCryptographicHash::hash(scriptOf(kTiny), QCryptographicHash::Sha256).toHex()));
}

TEST_F(E2eTest, ComPortNamesFollowTheEnvironmentMap) {
    const QString script = writeScript("tiny.pf3", scriptOf(kTiny));
    auto dev = device(script);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ORX716_COM3", dev->port());
    const Outcome o = runReburn3({"flash", "--port", "COM3", script}, env);
    ASSERT_TRUE(o.finished);
    EXPECT_EQ(o.exitCode, 0) << o.err.toStdString();
    EXPECT_EQ(o.countOut("Closed COM port: 3"), 1);
}

TEST_F(E2eTest, UsageErrorsGiveExit2) {
    const QString script = writeScript("tiny.pf3", scriptOf(kTiny));
    EXPECT_EQ(runReburn3({}).exitCode, 2);
    EXPECT_EQ(runReburn3({"burn"}).exitCode, 2);
    EXPECT_EQ(runReburn3({"flash", script}).exitCode, 2);
    EXPECT_EQ(runReburn3({"flash", "--port", "COM1"}).exitCode, 2);
    EXPECT_EQ(runReburn3({"flash", "--port", "COM9", script}).exitCode, 2);
    EXPECT_EQ(runReburn3({"flash", "--port", "COM1", "--progress=fancy", script}).exitCode, 2);
    EXPECT_EQ(runReburn3({"flash", "--bogus", "--port", "COM1", script}).exitCode, 2);
    EXPECT_EQ(runReburn3({"check"}).exitCode, 2);
    EXPECT_EQ(runReburn3({"ports", "extra"}).exitCode, 2);
    // A tag is text, and each key is given once.
    const Outcome twice =
        runReburn3({"flash", "--port", "COM1", "--tag", "k=1", "--tag=k=2", script});
    EXPECT_EQ(twice.exitCode, 2);
    EXPECT_TRUE(twice.err.startsWith("reburn3: the tag k is given twice"))
        << twice.err.toStdString();
    QProcess notText;
    notText.start("/bin/sh",
                  {"-c", "exec \"$0\" flash --port COM1 --tag \"$(printf 'k=\\377')\" \"$1\"",
                   kReburn3, script});
    ASSERT_TRUE(notText.waitForFinished());
    EXPECT_EQ(notText.exitCode(), 2);
    EXPECT_TRUE(
        notText.readAllStandardError().startsWith("reburn3: --tag k=<FF> is not UTF-8 text"));

    // Options before the command are refused in one line, not with the whole help.
    const Outcome early = runReburn3({"--json", "flash", "--port", "COM1", script});
    EXPECT_EQ(early.exitCode, 2);
    EXPECT_EQ(early.err.count('\n'), 1) << early.err.toStdString();
    EXPECT_TRUE(early.out.isEmpty());

    // Each command's help holds its own options and exit codes, and no other's.
    const Outcome flash = runReburn3({"flash", "--help"});
    EXPECT_EQ(flash.exitCode, 0);
    for (const char* text :
         {"  0 ", "  1 ", "  2 ", "  3 ", "  4 ", "  5 ", "  130 ", "--port", "--json", "--quiet",
          "--log FILE", "--tag KEY=VALUE", "--expect-sha256 HEX", "--trace FILE", "--repeat N",
          "--stats", "--reactive", "  --  "}) {
        EXPECT_TRUE(flash.out.contains(text)) << text;
    }
    EXPECT_EQ(runReburn3({"help", "flash"}).out, flash.out);
    const Outcome check = runReburn3({"help", "check"});
    EXPECT_EQ(check.exitCode, 0);
    EXPECT_TRUE(check.out.contains("  3 "));
    EXPECT_FALSE(check.out.contains("  130 "));
    EXPECT_FALSE(check.out.contains("--port"));
    EXPECT_EQ(runReburn3({"check", "--help"}).out, check.out);
    const Outcome ports = runReburn3({"ports", "--help"});
    EXPECT_FALSE(ports.out.contains("  130 "));
    EXPECT_TRUE(runReburn3({"--help"}).out.contains("help [COMMAND]"));
}

// A usage error under --json still ends in a JSON line of the command's own type, and a
// port never given is no device.
TEST_F(E2eTest, EveryJsonUsageErrorEndsInAJsonLine) {
    const QString script = writeScript("tiny.pf3", scriptOf(kTiny));
    const struct {
        QStringList args;
        QString type;
    } cases[] = {
        {{"check", "--json"}, "check"},
        {{"check", "--json", "--baud", "0", script}, "check"},
        {{"check", "--json", "--bogus", script}, "check"},
        {{"ports", "--json", "extra"}, "ports"},
        {{"flash", "--json", script}, "result"},
    };
    for (const auto& c : cases) {
        const Outcome o = runReburn3(c.args);
        EXPECT_EQ(o.exitCode, 2) << c.args.join(' ').toStdString();
        const QString line = o.outLines().isEmpty() ? QString() : o.outLines().last();
        const QJsonObject last = QJsonDocument::fromJson(line.toUtf8()).object();
        EXPECT_EQ(last.value("type").toString(), c.type) << o.out.toStdString();
        EXPECT_EQ(last.value("result").toString(), "usage-error") << o.out.toStdString();
        EXPECT_EQ(last.value("exitCode").toInt(), 2) << o.out.toStdString();
        if (c.type == "result") {
            EXPECT_EQ(last.value("device").toString(), "") << o.out.toStdString();
        }
    }
}

// reburn3 simulate and reburn3-sim: help under their own names, --version, "--", and a
// usage error in one line with a hint.
TEST_F(E2eTest, TheSimulatorAnswersUnderItsOwnName) {
    const QString sim = QFileInfo(kReburn3).dir().filePath("reburn3-sim");
    const Outcome help = runReburn3({"help", "simulate"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.startsWith("Usage: reburn3 simulate [options] [--] SCRIPT\n"));
    EXPECT_EQ(runReburn3({"simulate", "--help"}).out, help.out);

    QProcess p;
    p.start(sim, {"--help"});
    const Outcome simHelp = collect(p);
    EXPECT_EQ(simHelp.exitCode, 0);
    EXPECT_TRUE(simHelp.out.startsWith("Usage: reburn3-sim [options] [--] SCRIPT\n"));
    EXPECT_TRUE(simHelp.out.contains("--version"));
    p.start(sim, {"--version"});
    const Outcome version = collect(p);
    EXPECT_EQ(version.exitCode, 0);
    const QString expected = runReburn3({"--version"}).out.section(" Qt ", 0, 0).mid(8);
    EXPECT_EQ(version.out, "reburn3-sim " + expected + "\n");

    const Outcome bad = runReburn3({"simulate", "--bogus", "x.pf3"});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_EQ(bad.err,
              "reburn3 simulate: unknown option --bogus\n"
              "Try 'reburn3 simulate --help'.\n");
    EXPECT_TRUE(bad.out.isEmpty());
    EXPECT_EQ(runReburn3({"simulate", "--version", "x.pf3"}).exitCode, 2);
    p.start(sim, {"--lifetime"});
    const Outcome simBad = collect(p);
    EXPECT_EQ(simBad.exitCode, 2);
    EXPECT_EQ(simBad.err, "reburn3-sim: --lifetime needs a number\nTry 'reburn3-sim --help'.\n");
    // After "--" a word that looks like an option is the script: here one that is missing.
    const Outcome dashed = runReburn3({"simulate", "--lifetime", "5", "--", "-missing.pf3"});
    EXPECT_EQ(dashed.exitCode, 3) << dashed.err.toStdString();
    EXPECT_TRUE(dashed.err.startsWith("reburn3 simulate: -missing.pf3 refused: "))
        << dashed.err.toStdString();
}

TEST_F(E2eTest, CheckMeasuresAScriptOrListsItsFaults) {
    const QString good = writeScript("tiny.pf3", scriptOf(kTiny));
    const Outcome ok = runReburn3({"check", good});
    EXPECT_EQ(ok.exitCode, 0);
    EXPECT_TRUE(ok.out.contains("Records:         7\n"));
    EXPECT_TRUE(ok.out.contains("Script lines:    2\n"));
    EXPECT_TRUE(ok.out.contains("Bytes to send:   3\n"));
    EXPECT_TRUE(ok.out.contains("Bytes to verify: 2\n"));
    // Against an instant device: the handshake is judged at tick 57, then one tick per
    // group of T or R records (T T, R, T, R), then 20 ticks that confirm the last bytes.
    EXPECT_TRUE(ok.out.contains("Least time:      0.405 s (81 ticks")) << ok.out.toStdString();
    EXPECT_TRUE(ok.out.contains("on an infinitely fast line")) << ok.out.toStdString();
    EXPECT_FALSE(ok.out.contains("Least reactive:"));
    // On a line of 1200 baud each answer waits for its T bytes to cross and itself to
    // come back: 3 bytes (25 ms, 5 ticks), then 2 bytes (16.7 ms, 4 ticks). With reactive
    // steps: the handshake, then 5 bytes back to back (41.7 ms).
    const Outcome slow = runReburn3({"check", "--baud", "1200", good});
    EXPECT_EQ(slow.exitCode, 0);
    EXPECT_TRUE(slow.out.contains("Least time:      0.440 s (88 ticks of 5 ms at 1200 baud"))
        << slow.out.toStdString();
    EXPECT_TRUE(slow.out.contains("Least reactive:  0.427 s")) << slow.out.toStdString();
    // The longest answer waits for the most T bytes before an R to cross, then 54 ticks.
    EXPECT_TRUE(slow.out.contains("Longest wait:    0.285 s for an answer (2 T bytes crossing"))
        << slow.out.toStdString();
    for (const char* rate : {"0", "fast", "10000001"}) {
        EXPECT_EQ(runReburn3({"check", "--baud", rate, good}).exitCode, 2) << rate;
    }

    const QString bad = writeScript("bad.pf3", QByteArray("T5A:TG1:R91:E\r\n:T0"));
    const Outcome refused = runReburn3({"check", bad});
    EXPECT_EQ(refused.exitCode, 3);
    EXPECT_TRUE(refused.out.startsWith("Record 2: ")) << refused.out.toStdString();
    EXPECT_TRUE(refused.out.contains("** ERROR ** Script refused, nothing was sent: "));

    EXPECT_EQ(runReburn3({"check", path("missing.pf3")}).exitCode, 3);

    // The SHA-256 that --expect-sha256 takes, in the text and in the JSON, and accepted.
    const QString sha =
        QCryptographicHash::hash(scriptOf(kTiny), QCryptographicHash::Sha256).toHex();
    EXPECT_TRUE(ok.out.contains("SHA-256:         " + sha + "\n")) << ok.out.toStdString();
    const Outcome json = runReburn3({"check", "--json", good});
    const QJsonObject o = QJsonDocument::fromJson(json.out.toUtf8()).object();
    EXPECT_EQ(o.value("sha256").toString(), sha);
    auto dev = device(good);
    EXPECT_EQ(runReburn3({"flash", "--port", dev->port(), "--expect-sha256", sha, good}).exitCode,
              0);
    EXPECT_EQ(o.value("result").toString(), "ok");
    EXPECT_EQ(o.value("leastTicks").toInt(), 81);
    EXPECT_EQ(o.value("lineBaud").toInt(), 0);
    const QJsonObject onLine =
        QJsonDocument::fromJson(
            runReburn3({"check", "--json", "--baud", "1200", good}).out.toUtf8())
            .object();
    EXPECT_EQ(onLine.value("leastTicks").toInt(), 88);
    EXPECT_NEAR(onLine.value("leastReactiveS").toDouble(), 0.385 + 5 * 10 / 1200.0, 1e-9);

    // Faults as objects, and the hint of a known wrong format after them.
    const QString lf = writeScript("lf.pf3", QByteArray("T5A:TG1:R91:E\n:"));
    const Outcome lfText = runReburn3({"check", lf});
    EXPECT_EQ(lfText.exitCode, 3);
    EXPECT_TRUE(
        lfText.out.endsWith("Hint: the file has LF line ends; a .pf3 script needs CR LF, "
                            "often lost in a git or FTP text transfer\n"))
        << lfText.out.toStdString();
    const Outcome lfJson = runReburn3({"check", "--json", lf});
    const QJsonObject r = QJsonDocument::fromJson(lfJson.out.toUtf8()).object();
    EXPECT_EQ(r.value("result").toString(), "refused");
    const QJsonObject fault = r.value("faults").toArray().first().toObject();
    EXPECT_EQ(fault.value("record").toInt(), 2);
    EXPECT_EQ(fault.value("offset").toInt(), 4);
    EXPECT_TRUE(fault.value("message").toString().startsWith("Nib1 not valid"))
        << fault.value("message").toString().toStdString();
    EXPECT_TRUE(r.value("hint").toString().startsWith("Hint: the file has LF line ends"));

    // An unreadable script names the system's reason.
    const Outcome folder = runReburn3({"check", dir.path()});
    EXPECT_EQ(folder.exitCode, 3);
    EXPECT_TRUE(folder.err.contains(": Is a directory")) << folder.err.toStdString();
}

TEST_F(E2eTest, PortsListsTheMap) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ORX716_COM2", "/dev/reburn3-mapped");
    const Outcome o = runReburn3({"ports"}, env);
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_TRUE(o.out.contains("  COM2  /dev/reburn3-mapped  (from ORX716_COM2)"))
        << o.out.toStdString();
    EXPECT_TRUE(o.out.contains("  COM8  "));
}

// --reactive: the same bytes in the same order as on ticks alone; the stats carry the
// script's tick bound.
TEST_F(E2eTest, AReactiveDownloadSendsTheSameBytesAndReportsItsStats) {
    const std::vector<std::string> records = manyLines(100);
    const QString script = writeScript("many.pf3", scriptOf(records));
    auto dev = device(script);
    const Outcome o = runReburn3({"flash", "--json", "--stats", "--baud", "115200", "--reactive",
                                  "--port", dev->port(), script});
    ASSERT_TRUE(o.finished);
    ASSERT_EQ(o.exitCode, 0) << o.err.toStdString();
    QByteArray expected("\xE1\x94");
    expected += sentBytesOf(records);
    EXPECT_EQ(dev->received().toHex(' '), expected.toHex(' '));
    EXPECT_TRUE(o.err.contains("reburn3: stats: ")) << o.err.toStdString();

    const QJsonObject result = QJsonDocument::fromJson(o.outLines().back().toUtf8()).object();
    EXPECT_EQ(result.value("result").toString(), "completed");
    EXPECT_TRUE(result.value("reactive").toBool());
    EXPECT_EQ(result.value("bytesReceived").toInt(), 2 + 100);
    const QJsonObject stats = result.value("stats").toObject();
    EXPECT_EQ(stats.value("tickBound").toInt(), 57 + 2 * 100 + 20);
    // Measured against the line's own limit at 115200 baud, not the ticks.
    EXPECT_NEAR(stats.value("boundS").toDouble(), 0.385 + 200 * 10 / 115200.0, 1e-9);
    EXPECT_NEAR(stats.value("ratio").toDouble(),
                stats.value("wallS").toDouble() / stats.value("boundS").toDouble(), 1e-9);
    EXPECT_GT(stats.value("wallS").toDouble(), 0.0);
    EXPECT_GE(stats.value("periodsMeasured").toInt(), 56);  // the handshake alone takes 57
}

// Between ticks a missing answer is never judged: the time-out still takes 54 ticks.
TEST_F(E2eTest, AReactiveRunPassesALateByteAndTimesOutOnTicksOnly) {
    const QString script = writeScript("tiny.pf3", scriptOf(kTiny));
    {
        auto dev = device(script, {"--late", "100"});
        const Outcome o = runReburn3({"flash", "--reactive", "--port", dev->port(), script});
        ASSERT_TRUE(o.finished);
        EXPECT_EQ(o.exitCode, 0) << o.err.toStdString();
    }
    auto dev = device(script, {"--silent-from", "1"});
    const Outcome o = runReburn3({"flash", "--reactive", "--json", "--port", dev->port(), script});
    ASSERT_TRUE(o.finished);
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_TRUE(o.out.contains("Error. Read time out.")) << o.out.toStdString();
    // The reply is judged at tick 57 at the earliest, the first group goes out at once in a
    // reactive step, and 54 more ticks pass before the missing answer counts.
    const QJsonObject result = QJsonDocument::fromJson(o.outLines().back().toUtf8()).object();
    EXPECT_GE(result.value("ticks").toInt(), 57 + 54);
}

// Every way a download can end leaves one verdict line on standard error, one JSON
// result that agrees with the exit code, and (with --log) one line in the log, each with
// the tags given.
TEST_F(E2eTest, EveryPathEndsInAVerdictAndOneResult) {
    const QString script = writeScript("tiny.pf3", scriptOf(kTiny));
    const QString log = path("runs.jsonl");
    const QStringList logged{"--json", "--log", log, "--tag", "station=7", "--tag", "operator=ann"};
    struct Case {
        const char* name;
        QStringList faults;  // of the device; none: no device at all
        bool needsDevice;
        QStringList args;  // after --port
        int exitCode;
        QString result;
        QString reason;
        bool logs;
        QString verdictStart;
    };
    const QString zeros(64, '0');
    const std::vector<Case> cases = {
        {"completed",
         {},
         true,
         logged + QStringList{script},
         0,
         "completed",
         "completed",
         true,
         "reburn3: DONE: 7 records, 2 lines in "},
        {"wrong byte",
         {"--wrong-byte-at", "2"},
         true,
         logged + QStringList{script},
         1,
         "device-failed",
         "wrong-byte",
         true,
         "reburn3: FAILED (exit 1) at script line 2 of 2 (record 6): expected 26, the device "
         "answered D9; the device is partly programmed"},
        {"unreadable",
         {},
         false,
         logged + QStringList{path("missing.pf3")},
         3,
         "script-unreadable",
         "script-unreadable",
         true,
         "reburn3: FAILED (exit 3): cannot read the script " + path("missing.pf3") +
             ": No such file or directory; the device was not touched."},
        {"not the expected script",
         {},
         true,
         logged + QStringList{"--expect-sha256", zeros, script},
         3,
         "script-refused",
         "script-mismatch",
         true,
         "reburn3: FAILED (exit 3): the script's SHA-256 is "},
        {"usage after --json",
         {},
         false,
         {"--json", "--repeat", "0", script},
         2,
         "usage-error",
         "usage",
         false,
         "reburn3: --repeat takes a number of downloads, 1 or more (see `reburn3 flash --help`)"},
        {"log not writable",
         {},
         true,
         {"--json", "--log", path("no-such-folder/runs.jsonl"), script},
         2,
         "usage-error",
         "output-unwritable",
         false,
         "reburn3: NOT STARTED (exit 2): cannot write the log file " +
             path("no-such-folder/runs.jsonl") + ": No such file or directory"},
        {"trace not writable",
         {},
         true,
         {"--json", "--trace", dir.path(), script},
         2,
         "usage-error",
         "output-unwritable",
         false,
         "reburn3: NOT STARTED (exit 2): cannot write the trace file "},
    };
    int logLines = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<Device> dev;
        QString port = "/dev/reburn3-none";
        if (c.needsDevice) {
            dev = std::make_unique<Device>(script, c.faults,
                                           path(QString("received-%1.bin").arg(logLines + 100)));
            ASSERT_TRUE(dev->ok());
            port = dev->port();
        }
        const Outcome o = runReburn3(QStringList{"flash", "--port", port} + c.args);
        ASSERT_TRUE(o.finished);
        EXPECT_EQ(o.exitCode, c.exitCode) << o.err.toStdString();
        const QStringList err = o.err.split('\n', Qt::SkipEmptyParts);
        ASSERT_FALSE(err.isEmpty());
        EXPECT_TRUE(err.back().startsWith(c.verdictStart)) << err.back().toStdString();
        const QStringList out = o.outLines();
        ASSERT_FALSE(out.isEmpty());
        const QJsonObject result = QJsonDocument::fromJson(out.back().toUtf8()).object();
        EXPECT_EQ(result.value("type").toString(), "result");
        EXPECT_EQ(result.value("result").toString(), c.result);
        EXPECT_EQ(result.value("reason").toString(), c.reason);
        EXPECT_EQ(result.value("exitCode").toInt(-1), c.exitCode);
        EXPECT_EQ(static_cast<int>(out.filter("\"type\":\"result\"").size()), 1);
        if (c.logs) {
            ++logLines;
            EXPECT_EQ(result.value("tags").toObject().value("station").toString(), "7");
        }
        if (dev && c.exitCode != 0 && c.exitCode != 1) {
            EXPECT_TRUE(dev->received().isEmpty()) << "nothing may be sent";
        }
        // The digest of any script that could be read, also of one refused.
        EXPECT_EQ(result.value("sha256").toString().size(), c.reason == "script-unreadable" ||
                                                                    c.reason == "usage" ||
                                                                    c.reason == "output-unwritable"
                                                                ? 0
                                                                : 64);
        if (c.reason == "wrong-byte") {
            EXPECT_EQ(result.value("failedRecord").toInt(), 6);
            EXPECT_EQ(result.value("scriptLine").toInt(), 2);
            EXPECT_EQ(result.value("expected").toString(), "26");
            EXPECT_EQ(result.value("received").toString(), "D9");
            EXPECT_TRUE(result.value("partlyProgrammed").toBool());
        }
    }

    // One line per download that got as far as the log, each synced, each with the host.
    QFile file(log);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    reburn3::json_check::noteJsonLines(text);
    const QStringList lines = text.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), logLines);
    for (const QString& line : lines) {
        const QJsonObject entry = QJsonDocument::fromJson(line.toUtf8()).object();
        EXPECT_FALSE(entry.value("host").toString().isEmpty());
        EXPECT_EQ(entry.value("tags").toObject().value("operator").toString(), "ann");
        EXPECT_EQ(entry.value("script").toString().startsWith('/'), true);
    }
    EXPECT_EQ(QJsonDocument::fromJson(lines.front().toUtf8()).object().value("reason"),
              "completed");
}

// SIGTERM in the middle of a run: the closing lines, the verdict with the record reached
// and the device's state, and the JSON result named as an interruption always is.
TEST_F(E2eTest, AnInterruptedRunEndsInItsVerdictAndResult) {
    const QString script = writeScript("long.pf3", scriptOf(manyLines(300)));
    auto dev = device(script);
    QProcess p;
    p.start(kReburn3, {"flash", "--json", "--port", dev->port(), script});
    QString seen;
    ASSERT_TRUE(waitForOutput(p, "Processing ...   30\"", seen));
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    const Outcome o = collect(p, seen);
    ASSERT_TRUE(o.finished);
    EXPECT_EQ(o.exitCode, 130);
    const QStringList err = o.err.split('\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(err.isEmpty());
    EXPECT_TRUE(QRegularExpression("^reburn3: INTERRUPTED \\(exit 130\\) at record [0-9]+ of 900; "
                                   "the device is partly programmed: cycle its power before "
                                   "trying again\\.$")
                    .match(err.back())
                    .hasMatch())
        << err.back().toStdString();
    const QJsonObject result = QJsonDocument::fromJson(o.outLines().back().toUtf8()).object();
    EXPECT_EQ(result.value("result").toString(), "interrupted");
    EXPECT_EQ(result.value("reason").toString(), "interrupted");
    EXPECT_EQ(result.value("exitCode").toInt(), 130);
    EXPECT_TRUE(result.value("partlyProgrammed").toBool());
    EXPECT_GE(result.value("recordsDone").toInt(), 30);
}

// -q: the verdict alone. --trace: written as the run goes, so a killed run leaves it up
// to its last tick. --json: progress events at most about ten a second.
TEST_F(E2eTest, QuietTraceAndProgressEvents) {
    const std::vector<std::string> records = manyLines(120);
    const QString script = writeScript("many.pf3", scriptOf(records));
    {
        auto dev = device(script);
        const Outcome o = runReburn3({"flash", "-q", "--port", dev->port(), script});
        EXPECT_EQ(o.exitCode, 0);
        EXPECT_TRUE(o.out.isEmpty()) << o.out.toStdString();
        const QStringList err = o.err.split('\n', Qt::SkipEmptyParts);
        ASSERT_EQ(err.size(), 1) << o.err.toStdString();
        EXPECT_TRUE(err[0].startsWith("reburn3: DONE: 360 records, 120 lines in "));
    }
    {
        auto dev = device(script);
        const Outcome o = runReburn3({"flash", "--json", "--port", dev->port(), script});
        ASSERT_EQ(o.exitCode, 0);
        QList<int> done;
        for (const QString& line : o.outLines()) {
            const QJsonObject object = QJsonDocument::fromJson(line.toUtf8()).object();
            if (object.value("type") == "progress") {
                EXPECT_EQ(object.value("total").toInt(), 360);
                done << object.value("done").toInt();
            }
        }
        const QJsonObject result = QJsonDocument::fromJson(o.outLines().back().toUtf8()).object();
        const int durationMs = result.value("durationMs").toInt();
        ASSERT_FALSE(done.isEmpty());
        EXPECT_EQ(done.back(), 360);
        EXPECT_TRUE(std::is_sorted(done.begin(), done.end()));
        EXPECT_LE(done.size(), durationMs / 100 + 3) << durationMs << " ms";
        EXPECT_GE(done.size(), 3);
    }
    auto dev = device(script);
    QProcess p;
    p.start(kReburn3, {"flash", "--trace", path("trace.txt"), "--port", dev->port(), script});
    QString seen;
    ASSERT_TRUE(waitForOutput(p, "Processing ...   30\n", seen));
    ::kill(static_cast<pid_t>(p.processId()), SIGKILL);
    p.waitForFinished(kProcessLimitMs);
    QFile trace(path("trace.txt"));
    ASSERT_TRUE(trace.open(QIODevice::ReadOnly));
    const QByteArray traced = trace.readAll();
    // The handshake and the first lines' bytes each way: all ten lines posted before the
    // kill, but for the tick the kill may have cut short.
    EXPECT_GE(traced.count(" TX "), 2 + 9) << traced.left(400).toStdString();
    EXPECT_GE(traced.count(" RX "), 2 + 9);
}

// The progress bar on a real terminal (a tmux pane) of 40, 80 and 200 columns: it fits
// the width, and only its last state is left on the screen, never copies of itself.
TEST_F(E2eTest, TheProgressBarFitsTheTerminalAndLeavesNoCopies) {
    const std::vector<std::string> records = manyLines(120);
    const QString script = writeScript("many.pf3", scriptOf(records));
    const QString socket = QString("reburn3-e2e-%1").arg(::getpid());
    for (int width : {40, 80, 200}) {
        SCOPED_TRACE(width);
        auto dev = device(script);
        const QString done = path(QString("done-%1").arg(width));
        const QString command = QString(
                                    "'%1' flash --progress bar --port '%2' '%3' >/dev/null; "
                                    "echo $? > '%4'; sleep 30")
                                    .arg(kReburn3, dev->port(), script, done);
        QProcess tmux;
        tmux.start("tmux", {"-L", socket, "new-session", "-d", "-x", QString::number(width), "-y",
                            "60", "-s", QString("w%1").arg(width), command});
        ASSERT_TRUE(tmux.waitForFinished(kProcessLimitMs));
        ASSERT_EQ(tmux.exitCode(), 0) << tmux.readAllStandardError().toStdString();
        QElapsedTimer clock;
        clock.start();
        while (!QFile::exists(done) && clock.elapsed() < kProcessLimitMs) {
            QThread::msleep(100);
        }
        ASSERT_TRUE(QFile::exists(done));
        QThread::msleep(200);  // the file is written before the pane has drawn everything
        QProcess capture;
        capture.start("tmux", {"-L", socket, "capture-pane", "-p", "-t", QString("w%1").arg(width),
                               "-S", "-"});
        ASSERT_TRUE(capture.waitForFinished(kProcessLimitMs));
        const QStringList screen = QString::fromUtf8(capture.readAllStandardOutput()).split('\n');
        const QStringList bars = screen.filter(QRegularExpression("[0-9]+/360"));
        ASSERT_EQ(bars.size(), 1) << screen.join('\n').toStdString();
        EXPECT_LT(bars.front().trimmed().size(), width) << bars.front().toStdString();
        EXPECT_TRUE(bars.front().contains("360/360")) << bars.front().toStdString();
        QProcess::execute("tmux", {"-L", socket, "kill-session", "-t", QString("w%1").arg(width)});
    }
    QProcess::execute("tmux", {"-L", socket, "kill-server"});
}

// TERM=dumb (an editor's shell): progress lines, never the bar's escape codes, even when
// the bar is asked for.
TEST_F(E2eTest, ADumbTerminalGetsNoEscapeCodes) {
    const QString script = writeScript("many.pf3", scriptOf(manyLines(40)));
    auto dev = device(script);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TERM", "dumb");
    const Outcome o = runReburn3({"flash", "--progress=bar", "--port", dev->port(), script}, env);
    EXPECT_EQ(o.exitCode, 0) << o.err.toStdString();
    EXPECT_FALSE(o.err.contains('\x1b')) << o.err.toStdString();
    EXPECT_TRUE(o.err.contains("120/120")) << o.err.toStdString();
}

// File names are shown as record texts are: no escape sequence reaches the terminal; a
// name that starts with "-" follows "--"; a name that is not valid UTF-8 opens as given.
TEST_F(E2eTest, HostileFileNames) {
    const QString name = QString("-\x1b[31mred.pf3");
    const QString script = writeScript(name, scriptOf(kTiny));
    auto dev = device(script);
    QProcess p;
    p.setWorkingDirectory(dir.path());
    p.start(kReburn3, {"flash", "--port", dev->port(), "--", name});
    ASSERT_TRUE(p.waitForStarted(kProcessLimitMs));
    const Outcome o = collect(p);
    EXPECT_EQ(o.exitCode, 0) << o.err.toStdString();
    EXPECT_FALSE(o.err.contains('\x1b')) << o.err.toStdString();
    EXPECT_FALSE(o.out.contains('\x1b'));
    EXPECT_TRUE(o.err.contains("/-<1B>[31mred.pf3, SHA-256 ")) << o.err.toStdString();

    // Bytes that are no UTF-8, through a shell so that they reach the program unchanged.
    const QString shell =
        QString("exec '%1' check \"$(printf '%2/\\377\\376.pf3')\"").arg(kReburn3, dir.path());
    {
        // Written through the same shell, so that the file's name holds exactly those bytes.
        QProcess w;
        w.start("/bin/sh",
                {"-c", QString("printf 'T5A:R91:E\\r\\n:' > \"$(printf '%1/\\377\\376.pf3')\"")
                           .arg(dir.path())});
        ASSERT_TRUE(w.waitForFinished(kProcessLimitMs));
    }
    QProcess c;
    c.start("/bin/sh", {"-c", shell});
    ASSERT_TRUE(c.waitForStarted(kProcessLimitMs));
    const Outcome checked = collect(c);
    EXPECT_EQ(checked.exitCode, 0) << checked.err.toStdString() << checked.out.toStdString();
    EXPECT_TRUE(checked.out.contains("<FF><FE>.pf3")) << checked.out.toStdString();
    // The folder's own clean-up cannot name that file.
    QProcess rm;
    rm.start("/bin/sh", {"-c", QString("rm -f \"$(printf '%1/\\377\\376.pf3')\"").arg(dir.path())});
    rm.waitForFinished(kProcessLimitMs);
}

}  // namespace
