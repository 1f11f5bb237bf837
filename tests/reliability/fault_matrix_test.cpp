// SPDX-License-Identifier: Apache-2.0
// The fault matrix: `reburn3 flash` with the real serial driver against the simulated
// ORX-716 on a pseudo-terminal, one fault per case. Every case judges the whole status and
// debug output (times of day folded to hh:mm:ss, the handshake's "please wait" lines to
// one), the exit code, and every byte the device received.

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

#include <functional>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "reliability/harness.h"

namespace reburn3::reliability {
namespace {

const QString kComplete = "Processing complete.  Exit this application.";
const QStringList kRunErrStart = {"Starting reBURN of ORX-716 interface.",
                                  "Start time:    hh:mm:ss"};
const QString kStopTime = "Stop time:    hh:mm:ss";
const QStringList kExitLines = {"Input file closed.", "Closed COM port: 1", "Program terminated."};
const QStringList kExitLinesPortGone = {"Input file closed.", "Program terminated."};

// Five lines of two T bytes and one R byte each.
QByteArray fiveLines() {
    std::vector<std::string> records;
    char r[8];
    for (int i = 0; i < 5; ++i) {
        std::snprintf(r, sizeof r, "T%02X", 0x10 + i);
        records.emplace_back(r);
        std::snprintf(r, sizeof r, "T%02X", 0x20 + i);
        records.emplace_back(r);
        std::snprintf(r, sizeof r, "R%02X", 0x30 + i);
        records.emplace_back(r);
        records.emplace_back("E");
    }
    return scriptOf(records);
}

// The progress lines of fiveLines() up to line `lines`.
// "reburn3 1.0.0 (commit abc1234): ", the start of the first line, as --version says it.
QString versionHeader() {
    return runReburn3({"--version"}).out.section(" Qt ", 0, 0) + ": ";
}

QStringList progress(int lines) {
    QStringList out;
    for (int i = 1; i <= lines; ++i) {
        out << QString("Processing ...   %1").arg(4 * i);
    }
    return out;
}

// A burst of 120 T bytes, then one R byte.
QByteArray longBurst() {
    std::vector<std::string> records;
    char r[8];
    for (int i = 0; i < 120; ++i) {
        std::snprintf(r, sizeof r, "T%02X", (i * 7) & 0xFF);
        records.emplace_back(r);
    }
    records.emplace_back("R91");
    records.emplace_back("E");
    return scriptOf(records);
}

// Whole-output comparison, with both sides shown on a mismatch.
void expectLines(const QStringList& actual, const QStringList& expected, const char* which) {
    EXPECT_EQ(actual, expected) << which << " was:\n"
                                << actual.join('\n').toStdString() << "\n--- expected:\n"
                                << expected.join('\n').toStdString();
}

// Every download ends in a verdict; `verdict`, when given, is the whole of it, or with
// a trailing "*" its start.
void expectRun(const Outcome& o, int exitCode, const QStringList& out, const QStringList& err,
               const QString& verdict = {}) {
    ASSERT_TRUE(o.finished);
    EXPECT_EQ(o.exitCode, exitCode) << o.err.toStdString();
    expectLines(o.outLines(), out, "stdout");
    expectLines(o.errLines(), err, "stderr");
    EXPECT_FALSE(o.verdict.isEmpty()) << "no verdict line";
    EXPECT_TRUE(o.verdict.contains(QString("(exit %1)").arg(exitCode)) || exitCode == 0)
        << o.verdict.toStdString();
    if (verdict.endsWith('*')) {
        EXPECT_TRUE(o.verdict.startsWith(verdict.chopped(1))) << o.verdict.toStdString();
    } else if (!verdict.isEmpty()) {
        EXPECT_EQ(o.verdict, verdict);
    }
}

const QString kDone = "reburn3: DONE: 20 records, 5 lines in *";
const QString kUntouched = "; the device was not touched.";
const QString kPartly = "; the device is partly programmed: cycle its power before trying again.";

// A run that failed on the device's side after `linesDone` lines.
QStringList failedRunOut(int linesDone, const QStringList& exitLines = kExitLines) {
    return runStartLines() + progress(linesDone) + closingLines() + exitLines;
}

QStringList runErr(const QStringList& middle, const QStringList& after = {}) {
    return kRunErrStart + middle + QStringList{kStopTime} + after;
}

class DeviceFaults : public ReliabilityTest {
protected:
    void SetUp() override {
        ReliabilityTest::SetUp();
        script = writeScript("five.pf3", fiveLines());
    }
    Outcome flash(const Device& dev) { return runReburn3({"flash", "--port", dev.port(), script}); }
    QByteArray allBytes() const { return downloadOf(fiveLines()); }

    QString script;
};

// The debug lines of a run whose device pulled its cable instead of answering. The host
// hears of it while it still holds bytes for the device: "Error in sending queued bytes".
// On a starved machine the simulator may get to it only after the host's bytes are gone
// and its answer window has closed: the host then logs `timedOut` (what a silent device
// gets), before or after the loss. Both are true accounts of the run; the exit code, the
// verdict and the bytes sent are the same either way.
QStringList lossLines(const Outcome& o, const QString& gone, const QStringList& timedOut) {
    const qsizetype at = o.errLines().indexOf(timedOut.first());
    if (at < 0) {
        return {gone, "Error in sending queued bytes: 31"};
    }
    return o.errLines().indexOf(gone) < at ? QStringList{gone} + timedOut
                                           : timedOut + QStringList{gone};
}

// One row of the device's faults: the simulator's options, and the whole of what the
// download must end in. Each row flashes its own script (five lines unless it says
// otherwise) through the real driver and judges stdout, stderr, the exit code, the verdict
// and every byte the device received.
struct DeviceFaultRow {
    const char* name;
    QStringList deviceOptions;
    int exitCode;
    std::function<QStringList()> out;
    // The whole of stderr; it may depend on the run (lossLines) and names the port.
    std::function<QStringList(const Outcome&, const QString& port)> err;
    // The verdict, whole or with a trailing "*" its start; empty: any verdict.
    std::function<QString(const QString& port)> verdict;
    // How many bytes of the script's download the device received (kAll: every one).
    qsizetype received;
    // Further checks of this row.
    std::function<void(const Outcome&, const QString& port, const QString& script)> more = {};
    QByteArray (*script)() = fiveLines;
    const char* scriptName = "five.pf3";
};

constexpr qsizetype kAll = std::numeric_limits<qsizetype>::max();
constexpr qsizetype kHandshake = 2;  // E1 94 and nothing more

void PrintTo(const DeviceFaultRow& row, std::ostream* os) {
    *os << row.name;
}

QStringList completedOut() {
    return runStartLines() + progress(5) + closingLines() + QStringList{kComplete} + kExitLines;
}
QStringList quietErr(const Outcome&, const QString&) {
    return runErr({});
}
QString anyVerdict(const QString&) {
    return {};
}
QString goneLine(const QString& port) {
    return "reburn3: The serial device " + port +
           " went away (unplugged or closed); the port has been closed.";
}
const QStringList kSilentHandshake = {"Unexpected data read trying to initialize.",
                                      "LastByte0 = 0  LastByte1 = 0"};

const std::vector<DeviceFaultRow> kDeviceFaults = {
    {"AGoodDeviceTakesTheWholeScript",
     {},
     0,
     completedOut,
     quietErr,
     [](const QString&) { return kDone; },
     kAll,
     [](const Outcome& o, const QString& port, const QString& script) {
         EXPECT_EQ(o.header,
                   versionHeader() + port + ", script " + script + ", SHA-256 " +
                       QCryptographicHash::hash(fiveLines(), QCryptographicHash::Sha256).toHex());
         EXPECT_GE(o.pleaseWait(), 54);
     }},
    {"ASilentDeviceFailsTheHandshakeAfter54Ticks",
     {"--silent-handshake"},
     1,
     [] { return failedRunOut(0); },
     [](const Outcome&, const QString&) { return runErr(kSilentHandshake); },
     [](const QString&) {
         return "reburn3: FAILED (exit 1): no answer to the handshake within 270 ms" + kUntouched +
                " Check power, cable, BURN3 mode and the port.";
     },
     kHandshake,
     [](const Outcome& o, const QString&, const QString&) { EXPECT_EQ(o.pleaseWait(), 54); }},
    {"AWrongHandshakeReplyIsRejected",
     {"--bad-handshake"},
     1,
     [] { return failedRunOut(0); },
     [](const Outcome&, const QString&) {
         return runErr(
             {"Unexpected data read trying to initialize.", "LastByte0 = 91  LastByte1 = 27"});
     },
     [](const QString&) {
         return "reburn3: FAILED (exit 1): the device answered the handshake with 91 27 instead "
                "of 91 26" +
                kUntouched + " Check that the device is in BURN3 mode and on this port.";
     },
     kHandshake},
    // The host judges the last two bytes of the reply once the line has been quiet.
    {"NoiseBeforeAGoodReplyIsAccepted",
     {"--noise", "3"},
     0,
     completedOut,
     quietErr,
     anyVerdict,
     kAll},
    {"AStrayByteAfterAGoodReplyIsRejected",
     {"--stray"},
     1,
     [] { return failedRunOut(0); },
     [](const Outcome&, const QString&) {
         return runErr(
             {"Unexpected data read trying to initialize.", "LastByte0 = 26  LastByte1 = 0"});
     },
     anyVerdict,
     kHandshake},
    {"AWrongByteAtTheFirstRecordStopsAtOnce",
     {"--wrong-byte-at", "1"},
     1,
     [] { return failedRunOut(0); },
     [](const Outcome&, const QString&) { return runErr({"Error.  Expected = 30  Read = CF"}); },
     [](const QString&) {
         return "reburn3: FAILED (exit 1) at script line 1 of 5 (record 3): expected 30, the "
                "device answered CF" +
                kPartly;
     },
     4},
    {"AWrongByteAtAMiddleRecordStopsThere",
     {"--wrong-byte-at", "3"},
     1,
     [] { return failedRunOut(2); },
     [](const Outcome&, const QString&) { return runErr({"Error.  Expected = 32  Read = CD"}); },
     [](const QString&) {
         return "reburn3: FAILED (exit 1) at script line 3 of 5 (record 11): expected 32, the "
                "device answered CD" +
                kPartly;
     },
     8},
    {"AWrongByteAtTheLastRecordIsNotReportedAsDone",
     {"--wrong-byte-at", "5"},
     1,
     [] { return failedRunOut(4); },
     [](const Outcome&, const QString&) { return runErr({"Error.  Expected = 34  Read = CB"}); },
     [](const QString&) {
         return "reburn3: FAILED (exit 1) at script line 5 of 5 (record 19): expected 34, the "
                "device answered CB" +
                kPartly;
     },
     kAll},
    // The receive window is 54 ticks of nominally 5 ms (270 ms); a pseudo-terminal and a
    // busy machine only ever stretch ticks, so 200 ms lies well inside and 500 ms well
    // outside. The exact 53/54/55-tick boundary is proven tick by tick by the core's tests.
    {"ReplyingLateInsideTheWindowPasses",
     {"--late", "200"},
     0,
     completedOut,
     quietErr,
     anyVerdict,
     kAll},
    // The handshake reply is the first late answer, so the handshake is what fails.
    {"ReplyingLateOutsideTheWindowFails",
     {"--late", "500"},
     1,
     [] { return failedRunOut(0); },
     [](const Outcome&, const QString&) { return runErr(kSilentHandshake); },
     anyVerdict,
     kHandshake,
     [](const Outcome& o, const QString&, const QString&) { EXPECT_EQ(o.pleaseWait(), 54); }},
    {"SilenceMidScriptTimesOut",
     {"--silent-from", "3"},
     1,
     [] { return failedRunOut(2); },
     [](const Outcome&, const QString&) { return runErr({"Error. Read time out."}); },
     [](const QString&) {
         return "reburn3: FAILED (exit 1) at script line 3 of 5 (record 11): no answer from the "
                "device within 270 ms" +
                kPartly;
     },
     8},
    {"AnUnplugMidBurstEndsWithExit4",
     {"--unplug-at", "40"},
     4,
     [] { return failedRunOut(0, kExitLinesPortGone); },
     [](const Outcome&, const QString& port) {
         return runErr({goneLine(port), "Error in sending queued bytes: 31"},
                       {"Error: 31 closing COM port: 1"});
     },
     [](const QString& port) {
         return "reburn3: FAILED (exit 4) at script line 1 of 1 (record 121): the device " + port +
                " went away (unplugged or closed); \"Error: 31\" above means the same" + kPartly +
                " Reconnect the device, then download again.";
     },
     40,
     {},
     longBurst,
     "burst.pf3"},
    {"AnUnplugWhileWaitingForAReplyEndsWithExit4",
     {"--unplug-at", "4"},
     4,
     [] { return failedRunOut(0, kExitLinesPortGone); },
     [](const Outcome& o, const QString& port) {
         return runErr(lossLines(o, goneLine(port), {"Error. Read time out."}),
                       {"Error: 31 closing COM port: 1"});
     },
     anyVerdict,
     4},
    {"AnUnplugDuringTheHandshakeEndsWithExit4",
     {"--unplug-at", "2"},
     4,
     [] { return failedRunOut(0, kExitLinesPortGone); },
     [](const Outcome& o, const QString& port) {
         return runErr(lossLines(o, goneLine(port), kSilentHandshake),
                       {"Error: 31 closing COM port: 1"});
     },
     [](const QString& port) {
         return "reburn3: FAILED (exit 4): the device " + port +
                " went away (unplugged or closed); \"Error: 31\" above means the same" +
                kUntouched + " Reconnect the device, then download again.";
     },
     kHandshake},
    {"ADeviceThatEchoesEverythingIsRejected",
     {"--echo"},
     1,
     [] { return failedRunOut(0); },
     [](const Outcome&, const QString&) {
         return runErr(
             {"Unexpected data read trying to initialize.", "LastByte0 = E1  LastByte1 = 94"});
     },
     [](const QString&) {
         return "reburn3: FAILED (exit 1): the handshake came back as it was sent (E1 94): the "
                "port may be a loopback or the wrong device" +
                kUntouched + " Check that the port leads to the ORX-716.";
     },
     kHandshake},
};

class DeviceFaultMatrix : public ReliabilityTest,
                          public ::testing::WithParamInterface<DeviceFaultRow> {};

TEST_P(DeviceFaultMatrix, Case) {
    const DeviceFaultRow& row = GetParam();
    const QByteArray bytes = row.script();
    const QString file = writeScript(row.scriptName, bytes);
    auto dev = device(file, row.deviceOptions);
    const Outcome o = runReburn3({"flash", "--port", dev->port(), file});
    expectRun(o, row.exitCode, row.out(), row.err(o, dev->port()), row.verdict(dev->port()));
    EXPECT_EQ(dev->received().toHex(' '), downloadOf(bytes).left(row.received).toHex(' '));
    if (row.more) {
        row.more(o, dev->port(), file);
    }
}

INSTANTIATE_TEST_SUITE_P(DeviceFaults, DeviceFaultMatrix, ::testing::ValuesIn(kDeviceFaults),
                         [](const ::testing::TestParamInfo<DeviceFaultRow>& param) {
                             return std::string(param.param.name);
                         });

// The process stopped (Ctrl-Z, SIGSTOP) for longer than the handshake limit while the
// device answered: at SIGCONT the answer is waiting, and the stop is no time of the
// device's. The run completes.
TEST_F(DeviceFaults, AStopAndContinueDuringTheHandshakeIsNotTheDevicesTime) {
    auto dev = device(script, {"--late", "100"});
    QProcess p;
    startReburn3(p, {"flash", "--handshake-limit", "1", "--port", dev->port(), script});
    QString seen;
    ASSERT_TRUE(waitForOutput(p, "Program Mode = 103", seen)) << seen.toStdString();
    ::kill(static_cast<pid_t>(p.processId()), SIGSTOP);
    QThread::msleep(1500);
    ::kill(static_cast<pid_t>(p.processId()), SIGCONT);
    const Outcome o = collect(p, seen);
    EXPECT_EQ(o.exitCode, 0) << o.err.toStdString();
    EXPECT_EQ(dev->received().toHex(' '), allBytes().toHex(' '));
}

// A failed run leaves nothing behind on the port: no lock, no exclusive mode. A second
// download opens the same port at once (and fails again only because the device is
// still in its fault).
TEST_F(DeviceFaults, AfterAFailedRunThePortOpensAgainAtOnce) {
    const std::vector<QStringList> faults = {
        {"--silent-handshake"}, {"--wrong-byte-at", "3"}, {"--silent-from", "3"}, {"--echo"}};
    for (const QStringList& fault : faults) {
        SCOPED_TRACE(fault.join(' ').toStdString());
        auto dev = device(script, fault);
        const Outcome first = flash(*dev);
        ASSERT_TRUE(first.finished);
        EXPECT_EQ(first.exitCode, 1);
        const Outcome again = flash(*dev);
        ASSERT_TRUE(again.finished);
        ASSERT_FALSE(again.outLines().isEmpty()) << again.err.toStdString();
        EXPECT_EQ(again.outLines().front(), "COM port initialized and opened.")
            << again.err.toStdString();
        EXPECT_TRUE(again.outLines().contains("Closed COM port: 1"));
        EXPECT_EQ(again.exitCode, 1);
    }
}

// ---------------------------------------------------------------------------------------
// The port.

class PortFaults : public ReliabilityTest {
protected:
    void SetUp() override {
        ReliabilityTest::SetUp();
        script = writeScript("five.pf3", fiveLines());
    }
    // `why`: what the verdict adds to "could not be opened", from the system; "*": the
    // caller checks it.
    void expectOpenFailure(const Outcome& o, const QString& code, const QString& reason,
                           const QString& why = {}) {
        expectRun(o, 4, {"Input file closed.", "Program terminated."},
                  {"Error initializing COM port: " + code, reason},
                  "reburn3: FAILED (exit 4): the port *");
        const QString end = kUntouched + " `reburn3 ports` lists the ports.";
        if (why == "*") {  // checked by the caller
            EXPECT_TRUE(o.verdict.contains(" could not be opened: ")) << o.verdict.toStdString();
            EXPECT_TRUE(o.verdict.endsWith(end)) << o.verdict.toStdString();
        } else {
            EXPECT_TRUE(o.verdict.endsWith(" could not be opened" + why + end))
                << o.verdict.toStdString();
        }
    }
    QString script;
};

TEST_F(PortFaults, APortThatDoesNotExist) {
    const Outcome o = runReburn3({"flash", "--port", "/dev/reburn3-no-such-port", script});
    expectOpenFailure(o, "10", "The serial device /dev/reburn3-no-such-port does not exist.",
                      ": /dev/reburn3-no-such-port does not exist");
    // A COM name says how it was mapped.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ORX716_COM3", "/dev/reburn3-no-such-port");
    const Outcome com = runReburn3({"flash", "--port", "COM3", script}, env);
    EXPECT_EQ(com.exitCode, 4);
    EXPECT_TRUE(
        com.verdict.contains(": COM3 is /dev/reburn3-no-such-port, which does not exist; "
                             "set ORX716_COM3 to choose another device;"))
        << com.verdict.toStdString();
}

TEST_F(PortFaults, APortThisUserMayNotOpen) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to run the download as the user nobody";
    }
    const QString setpriv = QStandardPaths::findExecutable("setpriv");
    if (setpriv.isEmpty()) {
        GTEST_SKIP() << "setpriv (util-linux) is not installed";
    }
    // The device is a pseudo-terminal owned by root with mode 0600; nobody must still be
    // able to read the script.
    ::chmod(dir.path().toLocal8Bit().constData(), 0755);
    ::chmod(script.toLocal8Bit().constData(), 0644);
    auto dev = device(script);
    QProcess p;
    p.start(setpriv, {"--reuid=nobody", "--regid=nogroup", "--clear-groups", binary(), "flash",
                      "--port", dev->port(), script});
    ASSERT_TRUE(p.waitForStarted(kProcessLimitMs));
    const Outcome o = collect(p);
    if (o.err.contains("setpriv:")) {
        GTEST_SKIP() << "this machine does not let setpriv change the user: "
                     << o.err.toStdString();
    }
    // One diagnosis, from the device's owner, group and mode (a pseudo-terminal's: root,
    // tty or root, 0620), in the debug line and in the verdict alike; never "join dialout".
    const QString why = "it is open to its owner root only (its group " +
                        QFileInfo(dev->port()).group() +
                        " may not both read and write it): ask for access to it";
    expectOpenFailure(o, "11", "Permission denied on " + dev->port() + ": " + why + ".", "*");
    EXPECT_TRUE(o.verdict.contains("permission denied; " + why)) << o.verdict.toStdString();
    EXPECT_FALSE(o.err.contains("dialout")) << o.err.toStdString();
    EXPECT_TRUE(dev->received().isEmpty());
}

TEST_F(PortFaults, APortInUseByAnotherProcess) {
    auto dev = device(script);
    // The locker is a process of its own: `flock` holding the device while it sleeps.
    QProcess locker;
    locker.start("flock", {dev->port(), "sleep", "20"});
    ASSERT_TRUE(locker.waitForStarted(kProcessLimitMs));
    // Wait until the lock is really taken.
    bool locked = false;
    for (int i = 0; i < 200 && !locked; ++i) {
        const int fd =
            ::open(dev->port().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
        ::close(fd);
        if (!locked) {
            ::usleep(10000);
        }
    }
    ASSERT_TRUE(locked);
    const Outcome o = runReburn3({"flash", "--port", dev->port(), script});
    locker.kill();
    locker.waitForFinished(2000);
    expectOpenFailure(o, "12",
                      "The serial device " + dev->port() + " is in use by another program.", "*");
    // The verdict names the holder.
    EXPECT_TRUE(o.verdict.contains(": " + dev->port() + " is held by PID "))
        << o.verdict.toStdString();
    EXPECT_TRUE(o.verdict.contains(" (flock)") || o.verdict.contains(" (sleep)"))
        << o.verdict.toStdString();
    EXPECT_TRUE(dev->received().isEmpty());
}

// One row of the paths that are no serial port: what the port is made of (in the test's
// folder, beside the script), and the driver's reason; each ends as a port not opened
// (code 13), nothing sent, and the path untouched.
struct NoPortRow {
    const char* name;
    // Makes the port from the test's folder and its script; returns its path.
    std::function<QString(const QString& folder, const QString& script)> make;
    // The driver's reason after "cannot be opened: ".
    const char* reason;
};

void PrintTo(const NoPortRow& row, std::ostream* os) {
    *os << row.name;
}

const std::vector<NoPortRow> kNoPorts = {
    {"ADirectoryIsNoPort",
     [](const QString& folder, const QString&) {
         const QString port = folder + "/folder";
         EXPECT_TRUE(QDir().mkpath(port));
         return port;
     },
     "Is a directory"},
    {"DevNullIsNoPort", [](const QString&, const QString&) { return QString("/dev/null"); },
     "it is not a serial device (not a terminal)"},
    {"APlainFileIsNoPort", [](const QString&, const QString& script) { return script; },
     "it is not a serial device (not a terminal)"},
};

class PortFaultMatrix : public PortFaults, public ::testing::WithParamInterface<NoPortRow> {};

TEST_P(PortFaultMatrix, Case) {
    const NoPortRow& row = GetParam();
    const QString port = row.make(dir.path(), script);
    const Outcome o = runReburn3({"flash", "--port", port, script});
    expectOpenFailure(o, "13", "The serial device " + port + " cannot be opened: " + row.reason);
    // The script, also named as the port in one row, is untouched.
    QFile f(script);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), fiveLines());
}

INSTANTIATE_TEST_SUITE_P(PortFaults, PortFaultMatrix, ::testing::ValuesIn(kNoPorts),
                         [](const ::testing::TestParamInfo<NoPortRow>& param) {
                             return std::string(param.param.name);
                         });

// ---------------------------------------------------------------------------------------
// The script. A refused script never reaches the port: the device, waiting on it, receives
// nothing.

class ScriptFaults : public ReliabilityTest {
protected:
    // Flashes `bytes` as a script against a device that holds a good one.
    Outcome flashScript(const QByteArray& bytes, const QString& name = "script.pf3") {
        const QString good = writeScript("good.pf3", fiveLines());
        scriptPath = writeScript(name, bytes);
        dev = device(good);
        return runReburn3({"flash", "--port", dev->port(), scriptPath});
    }
    void expectRefused(const Outcome& o, const QStringList& faults,
                       const QString& verdict = "** ERROR ** Script refused, nothing was sent: ",
                       const QStringList& hint = {}) {
        expectRun(o, 3, {"Input file closed.", "Program terminated."},
                  faults + QStringList{verdict + scriptPath} + hint,
                  "reburn3: FAILED (exit 3): the script " + scriptPath +
                      " was refused by the check (`reburn3 check` lists its faults)" + kUntouched +
                      " Fix the script, then try again.");
        EXPECT_TRUE(dev->received().isEmpty());
    }

    QString scriptPath;
    std::unique_ptr<Device> dev;
};

// One row of the scripts: refused (the faults the check lists, the last lines of stderr and
// nothing sent) or accepted (the whole download, byte for byte).
struct ScriptRow {
    const char* name;
    std::function<QByteArray()> bytes;
    // Empty for a script that is accepted; else the check's faults, in order.
    QStringList faults;
    bool refused = true;
    QString verdict = "** ERROR ** Script refused, nothing was sent: ";
    QStringList hint = {};
    QString scriptName = "script.pf3";
};

void PrintTo(const ScriptRow& row, std::ostream* os) {
    *os << row.name;
}

// After the first line mark of a script with LF line ends, every record is out of step
// until the ":" lines up again.
QStringList lineFeedFaults() {
    QStringList faults;
    for (int record = 4; record <= 14; ++record) {
        faults << QString("Record %1: Char4 not a :").arg(record);
    }
    return faults << "Record 15: Invalid packet read from input file.  :E<0A>:"
                  << "Record 19: Incomplete record at the end of the file: 3 bytes";
}

const std::vector<ScriptRow> kScripts = {
    {"EmptyScript",
     [] { return QByteArray(); },
     {},
     true,
     "** ERROR ** Script holds no whole record, nothing was sent: "},
    // Four characters of white space between records read as a record without its ":".
    {"WhiteSpaceBeforeARecordIsRefused",
     [] { return fiveLines() + "\r\n  " + fiveLines(); },
     {"Record 21: Char4 not a :"}},
    {"LineFeedOnlyLineMarks",
     [] {
         QByteArray bytes = fiveLines();
         return bytes.replace("\r\n", "\n");
     },
     lineFeedFaults(),
     true,
     "** ERROR ** Script refused, nothing was sent: ",
     {"Hint: the file has LF line ends; a .pf3 script needs CR LF, often lost in a git or FTP "
      "text transfer"}},
    {"LowerCaseHex",
     [] { return QByteArray("T5a:T01:R91:E\r\n:t02:R26:E\r\n:"); },
     {"Record 1: Nib0 not valid: 61", "Record 5: Invalid packet read from input file.  t02:"},
     true,
     "** ERROR ** Script refused, nothing was sent: ",
     {"Hint: the file has lower-case hex digits; a .pf3 script uses upper-case 0-9 and A-F "
      "only"}},
    {"ABadTerminator",
     [] { return QByteArray("T5A:T01;R91:E\r\n:"); },
     {"Record 2: Char4 not a :"}},
    {"AnUnknownRecordType",
     [] { return QByteArray("T5A:X01:R91:E\r\n:"); },
     {"Record 2: Invalid packet read from input file.  X01:"}},
    // An editor's final line break after the last record is no record.
    {"AShortWhiteSpaceTailIsAccepted", [] { return fiveLines() + "\r\n"; }, {}, false},
    // Blank lines after the last record are no records either.
    {"AWhiteSpaceTailOfAnyLengthIsAccepted",
     [] { return fiveLines() + "\r\n  \t\r\n\r\n\x1A"; },
     {},
     false},
    {"ANameWithBlanksAndNonAsciiLetters",
     fiveLines,
     {},
     false,
     {},
     {},
     QString::fromUtf8("a folder with blanks/Zürich ÿ Œ.pf3")},
};

class ScriptMatrix : public ScriptFaults, public ::testing::WithParamInterface<ScriptRow> {};

TEST_P(ScriptMatrix, Case) {
    const ScriptRow& row = GetParam();
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path(row.scriptName)).path()));
    const Outcome o = flashScript(row.bytes(), row.scriptName);
    if (row.refused) {
        expectRefused(o, row.faults, row.verdict, row.hint);
        return;
    }
    expectRun(o, 0, completedOut(), runErr({}));
    EXPECT_EQ(dev->received().toHex(' '), downloadOf(fiveLines()).toHex(' '));
}

INSTANTIATE_TEST_SUITE_P(ScriptFaults, ScriptMatrix, ::testing::ValuesIn(kScripts),
                         [](const ::testing::TestParamInfo<ScriptRow>& param) {
                             return std::string(param.param.name);
                         });

TEST_F(ScriptFaults, OneTwoAndThreeByteScripts) {
    for (const QByteArray& bytes : {QByteArray("T"), QByteArray("T5"), QByteArray("T5A")}) {
        SCOPED_TRACE(bytes.toStdString());
        expectRefused(flashScript(bytes),
                      {QString("Record 1: Incomplete record at the end of the file: %1 %2")
                           .arg(bytes.size())
                           .arg(bytes.size() == 1 ? "byte" : "bytes")});
    }
}

TEST_F(ScriptFaults, RandomBinary) {
    std::mt19937 random(716);
    QByteArray bytes;
    for (int i = 0; i < 4096; ++i) {
        bytes += static_cast<char>(random() & 0xFF);
    }
    const Outcome o = flashScript(bytes);
    ASSERT_TRUE(o.finished);
    EXPECT_EQ(o.exitCode, 3);
    expectLines(o.outLines(), {"Input file closed.", "Program terminated."}, "stdout");
    const QStringList err = o.errLines();
    ASSERT_GE(err.size(), 3);
    EXPECT_EQ(err.back(),
              "Hint: the file is binary; reburn3 plays .pf3 programming scripts, not firmware "
              "images");
    EXPECT_EQ(err[err.size() - 2], "** ERROR ** Script refused, nothing was sent: " + scriptPath);
    EXPECT_TRUE(err[err.size() - 3].startsWith("Further faults not listed: "))
        << o.err.toStdString();
    EXPECT_TRUE(dev->received().isEmpty());
}

TEST_F(ScriptFaults, ANameThatDoesNotExist) {
    const QString good = writeScript("good.pf3", fiveLines());
    dev = device(good);
    scriptPath = path("missing.pf3");
    const Outcome o = runReburn3({"flash", "--port", dev->port(), scriptPath});
    expectRun(o, 3, {}, {"** ERROR ** Cannot open the input file: " + scriptPath},
              "reburn3: FAILED (exit 3): cannot read the script " + scriptPath +
                  ": No such file or directory" + kUntouched + " Fix the script, then try again.");
    EXPECT_TRUE(dev->received().isEmpty());
}

// ---------------------------------------------------------------------------------------
// The script changed on disk at any moment after its check: while --wait-for-port waits,
// once the port is open (the handshake), in the middle of the run. The run plays the copy
// its check took, so the device gets exactly the bytes pinned with --expect-sha256 and the
// header names their hash, whatever happened to the file. The script is larger than the
// 64 KiB block the reader plays at a time.

struct ChangeCase {
    const char* name;
    const char* moment;  // "wait", "handshake" or "midrun"
    std::function<void(const QString& file, const QString& other)> change;
};

void PrintTo(const ChangeCase& c, std::ostream* os) {
    *os << c.name;
}

class ScriptChanges : public ReliabilityTest, public ::testing::WithParamInterface<ChangeCase> {};

void rewriteInPlace(const QString& file, const QString& other) {
    QFile from(other);
    QFile to(file);
    ASSERT_TRUE(from.open(QIODevice::ReadOnly) && to.open(QIODevice::WriteOnly));
    to.write(from.readAll());
}

TEST_P(ScriptChanges, TheDeviceGetsTheCheckedBytes) {
    const ChangeCase& c = GetParam();
    const QByteArray original = linesScript(300, 64, 1);
    const QString sha = QCryptographicHash::hash(original, QCryptographicHash::Sha256).toHex();
    const QString script = writeScript("script.pf3", original);
    const QString other = writeScript("other.pf3", linesScript(300, 64, 2));
    const bool waiting = std::string_view(c.moment) == "wait";
    auto dev = device(
        writeScript("device.pf3", original),
        waiting ? QStringList{"--link", path("late"), "--link-delay", "1.5"} : QStringList{});
    QProcess p;
    startReburn3(p, QStringList{"flash", "--expect-sha256", sha, "--port"} +
                        (waiting ? QStringList{path("late"), "--wait-for-port", "10"}
                                 : QStringList{dev->port()}) +
                        QStringList{script});
    QString seen;
    QString err;
    if (waiting) {
        p.setReadChannel(QProcess::StandardError);
        while (!err.contains("reburn3: waiting for") && p.waitForReadyRead(kProcessLimitMs)) {
            err += QString::fromUtf8(p.readAllStandardError());
        }
        p.setReadChannel(QProcess::StandardOutput);
    } else {
        const bool handshake = std::string_view(c.moment) == "handshake";
        ASSERT_TRUE(waitForOutput(
            p, handshake ? "Program Mode = 103 ... please wait" : "Processing ...   660", seen));
    }
    c.change(script, other);
    const Outcome o = collect(p, seen);
    ASSERT_TRUE(o.finished);
    EXPECT_EQ(o.exitCode, 0) << o.err.toStdString();
    EXPECT_TRUE((err + o.header).contains("SHA-256 " + sha)) << o.header.toStdString();
    EXPECT_EQ(dev->received().toHex(' '), downloadOf(original).toHex(' '));
}

const auto kRewrite = [](const QString& f, const QString& other) { rewriteInPlace(f, other); };
const auto kTruncate = [](const QString& f, const QString&) {
    ASSERT_EQ(::truncate(f.toLocal8Bit().constData(), 4000), 0);
};
const auto kRemove = [](const QString& f, const QString&) { QFile::remove(f); };
const auto kRename = [](const QString& f, const QString& other) {
    ASSERT_EQ(::rename(other.toLocal8Bit().constData(), f.toLocal8Bit().constData()), 0);
};

INSTANTIATE_TEST_SUITE_P(
    Cases, ScriptChanges,
    ::testing::Values(ChangeCase{"RewrittenWhileWaitingForThePort", "wait", kRewrite},
                      ChangeCase{"TruncatedWhileWaitingForThePort", "wait", kTruncate},
                      ChangeCase{"RewrittenDuringTheHandshake", "handshake", kRewrite},
                      ChangeCase{"TruncatedDuringTheHandshake", "handshake", kTruncate},
                      ChangeCase{"RewrittenMidRun", "midrun", kRewrite},
                      ChangeCase{"TruncatedMidRun", "midrun", kTruncate},
                      ChangeCase{"DeletedMidRun", "midrun", kRemove},
                      ChangeCase{"ReplacedByRenameMidRun", "midrun", kRename}),
    [](const ::testing::TestParamInfo<ChangeCase>& param) { return param.param.name; });

}  // namespace
}  // namespace reburn3::reliability
