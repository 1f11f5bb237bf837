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

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr int kProcessLimitMs = 20000;  // only a broken build ever comes near it
constexpr const char* kReburn3 = REBURN3_BIN;

struct Outcome {
    bool finished = false;
    int exitCode = -1;
    QString out;
    QString err;

    QStringList outLines() const { return out.split('\n', Qt::SkipEmptyParts); }
    int countOut(const QString& line) const { return static_cast<int>(outLines().count(line)); }
};

// Waits until the process has written `text` on stdout (collected into `seen`).
bool waitForOutput(QProcess& p, const QString& text, QString& seen) {
    QElapsedTimer clock;
    clock.start();
    while (!seen.contains(text) && clock.elapsed() < kProcessLimitMs) {
        if (!p.waitForReadyRead(200) && p.state() == QProcess::NotRunning) {
            seen += QString::fromUtf8(p.readAllStandardOutput());
            break;
        }
        seen += QString::fromUtf8(p.readAllStandardOutput());
    }
    return seen.contains(text);
}

Outcome collect(QProcess& p, const QString& seenBefore = {}) {
    Outcome o;
    o.finished = p.waitForFinished(kProcessLimitMs);
    if (!o.finished) {
        p.kill();
        p.waitForFinished(2000);
    }
    o.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    o.out = seenBefore + QString::fromUtf8(p.readAllStandardOutput());
    o.err = QString::fromUtf8(p.readAllStandardError());
    return o;
}

Outcome runReburn3(const QStringList& args,
                   const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(kReburn3, args);
    if (!p.waitForStarted(kProcessLimitMs)) {
        return {};
    }
    return collect(p);
}

// The simulated device, as `reburn3 simulate SCRIPT --record FILE [faults]`.
class Device {
public:
    Device(const QString& script, const QStringList& faults, const QString& recordPath)
        : m_record(recordPath) {
        QStringList args{"simulate", script, "--record", recordPath, "--lifetime", "25"};
        args += faults;
        m_process.start(kReburn3, args);
        if (!m_process.waitForStarted(kProcessLimitMs)) {
            return;
        }
        QElapsedTimer clock;
        clock.start();
        while (!m_process.canReadLine() && clock.elapsed() < kProcessLimitMs &&
               m_process.state() == QProcess::Running) {
            m_process.waitForReadyRead(200);
        }
        m_port = QString::fromUtf8(m_process.readLine()).trimmed();
    }
    ~Device() { stop(); }
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    bool ok() const { return !m_port.isEmpty(); }
    const QString& port() const { return m_port; }

    void stop() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(3000)) {
                m_process.kill();
                m_process.waitForFinished(2000);
            }
        }
    }

    // Every byte the device received, once it has stopped.
    QByteArray received() {
        stop();
        QFile f(m_record);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private:
    QProcess m_process;
    QString m_record;
    QString m_port;
};

// A script from records written as "T5A", "R91", "E".
QByteArray scriptOf(const std::vector<std::string>& records) {
    QByteArray bytes;
    for (const std::string& r : records) {
        bytes += r == "E" ? QByteArray("E\r\n:") : QByteArray::fromStdString(r + ":");
    }
    return bytes;
}

// The T bytes of a script, in order.
QByteArray sentBytesOf(const std::vector<std::string>& records) {
    QByteArray bytes;
    for (const std::string& r : records) {
        if (r[0] == 'T') {
            bytes += static_cast<char>(std::stoi(r.substr(1), nullptr, 16));
        }
    }
    return bytes;
}

const std::vector<std::string> kTiny{"T5A", "T01", "R91", "E", "T02", "R26", "E"};

// A script of `count` lines, each one byte out and one byte back.
std::vector<std::string> manyLines(int count) {
    std::vector<std::string> records;
    char buf[8];
    for (int i = 0; i < count; ++i) {
        std::snprintf(buf, sizeof buf, "T%02X", i & 0xFF);
        records.emplace_back(buf);
        std::snprintf(buf, sizeof buf, "R%02X", (i * 3) & 0xFF);
        records.emplace_back(buf);
        records.emplace_back("E");
    }
    return records;
}

class E2eTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    QString writeScript(const QString& name, const QByteArray& bytes) {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }
    QString path(const QString& name) const { return dir.filePath(name); }

    std::unique_ptr<Device> device(const QString& script, const QStringList& faults = {}) {
        auto d = std::make_unique<Device>(script, faults, path("received.bin"));
        EXPECT_TRUE(d->ok());
        return d;
    }

    QTemporaryDir dir;
};

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
    EXPECT_TRUE(o.err.isEmpty()) << o.err.toStdString();

    std::vector<QJsonObject> objects;
    for (const QString& line : o.outLines()) {
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(line.toUtf8(), &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        ASSERT_TRUE(doc.isObject());
        objects.push_back(doc.object());
    }
    ASSERT_GE(objects.size(), 3U);
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
    EXPECT_EQ(result.value("result").toString(), "completed");
    EXPECT_EQ(result.value("exitCode").toInt(-1), 0);
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

    const Outcome help = runReburn3({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* code : {"  0 ", "  1 ", "  2 ", "  3 ", "  4 ", "  130 "}) {
        EXPECT_TRUE(help.out.contains(code)) << code;
    }
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
    // group of T or R records (T T, R, T, R).
    EXPECT_TRUE(ok.out.contains("Least time:      0.305 s (61 ticks")) << ok.out.toStdString();
    EXPECT_TRUE(ok.out.contains("on an infinitely fast line")) << ok.out.toStdString();
    EXPECT_FALSE(ok.out.contains("Least reactive:"));
    // On a line of 1200 baud each answer waits for its T bytes to cross and itself to
    // come back: 3 bytes (25 ms, 5 ticks), then 2 bytes (16.7 ms, 4 ticks). With reactive
    // steps: the handshake, then 5 bytes back to back (41.7 ms).
    const Outcome slow = runReburn3({"check", "--baud", "1200", good});
    EXPECT_EQ(slow.exitCode, 0);
    EXPECT_TRUE(slow.out.contains("Least time:      0.340 s (68 ticks of 5 ms at 1200 baud"))
        << slow.out.toStdString();
    EXPECT_TRUE(slow.out.contains("Least reactive:  0.327 s")) << slow.out.toStdString();
    for (const char* rate : {"0", "fast", "10000001"}) {
        EXPECT_EQ(runReburn3({"check", "--baud", rate, good}).exitCode, 2) << rate;
    }

    const QString bad = writeScript("bad.pf3", QByteArray("T5A:TG1:R91:E\r\n:T0"));
    const Outcome refused = runReburn3({"check", bad});
    EXPECT_EQ(refused.exitCode, 3);
    EXPECT_TRUE(refused.out.startsWith("Record 2: ")) << refused.out.toStdString();
    EXPECT_TRUE(refused.out.contains("** ERROR ** Script refused, nothing was sent: "));

    EXPECT_EQ(runReburn3({"check", path("missing.pf3")}).exitCode, 3);

    const Outcome json = runReburn3({"check", "--json", good});
    const QJsonObject o = QJsonDocument::fromJson(json.out.toUtf8()).object();
    EXPECT_EQ(o.value("result").toString(), "ok");
    EXPECT_EQ(o.value("leastTicks").toInt(), 61);
    EXPECT_EQ(o.value("lineBaud").toInt(), 0);
    const QJsonObject onLine =
        QJsonDocument::fromJson(
            runReburn3({"check", "--json", "--baud", "1200", good}).out.toUtf8())
            .object();
    EXPECT_EQ(onLine.value("leastTicks").toInt(), 68);
    EXPECT_NEAR(onLine.value("leastReactiveS").toDouble(), 0.285 + 5 * 10 / 1200.0, 1e-9);
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
    EXPECT_EQ(stats.value("tickBound").toInt(), 57 + 2 * 100);
    // Measured against the line's own limit at 115200 baud, not the ticks.
    EXPECT_NEAR(stats.value("boundS").toDouble(), 0.285 + 200 * 10 / 115200.0, 1e-9);
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

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
