// SPDX-License-Identifier: Apache-2.0
// The command line against hostile surroundings, end to end: a device that never goes
// quiet, signals during the whole-file check and during the run (SIGHUP included),
// standard descriptors closed at start, and a port named relative to the working folder.

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "reliability/harness.h"

namespace reburn3::reliability {
namespace {

const QString kComplete = "Processing complete.  Exit this application.";

// A device that talks and never stops: a status line every 5 ms on a pseudo-terminal of
// its own (200 lines a second), whatever it is sent.
class ChatteringDevice {
public:
    // `flood`: write as fast as the pseudo-terminal takes, instead of a line every 5 ms.
    explicit ChatteringDevice(bool flood = false) : m_flood(flood) {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (m_master >= 0 && ::grantpt(m_master) == 0 && ::unlockpt(m_master) == 0) {
            m_port = QString::fromLocal8Bit(::ptsname(m_master));
            m_thread = std::thread([this] { talk(); });
        }
    }
    ~ChatteringDevice() {
        m_stop = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
        if (m_master >= 0) {
            ::close(m_master);
        }
    }
    ChatteringDevice(const ChatteringDevice&) = delete;
    ChatteringDevice& operator=(const ChatteringDevice&) = delete;

    const QString& port() const { return m_port; }

private:
    void talk() {
        const char line[] = "STATUS 0716 OK\r\n";
        const std::string block(4096, '\x55');
        char sink[256];
        while (!m_stop) {
            const ssize_t w = m_flood ? ::write(m_master, block.data(), block.size())
                                      : ::write(m_master, line, sizeof line - 1);
            while (::read(m_master, sink, sizeof sink) > 0) {
            }
            if (!m_flood || w < 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(m_flood ? 1 : 5));
            }
        }
    }

    bool m_flood = false;
    int m_master = -1;
    QString m_port;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

QJsonObject lastJson(const QString& out) {
    const QStringList lines = out.split('\n', Qt::SkipEmptyParts);
    return lines.isEmpty() ? QJsonObject()
                           : QJsonDocument::fromJson(lines.back().toUtf8()).object();
}

bool hasEvent(const QString& out, const QString& event) {
    for (const QString& line : out.split('\n', Qt::SkipEmptyParts)) {
        if (QJsonDocument::fromJson(line.toUtf8()).object().value("event").toString() == event) {
            return true;
        }
    }
    return false;
}

class CliFaults : public ReliabilityTest {};

// The window's own wait is kept (a good device passes under the shortest limit), and a
// device that keeps the line busy is given up at the limit with its reason.
TEST_F(CliFaults, AHandshakeThatNeverEndsIsGivenUpAtTheLimit) {
    const QByteArray bytes = linesScript(20, 8, 3);
    const QString script = writeScript("s.pf3", bytes);
    auto good = device(script);
    const Outcome passed =
        runReburn3({"flash", "--port", good->port(), "--handshake-limit", "1", "--json", script});
    EXPECT_EQ(passed.exitCode, 0) << passed.err.toStdString();
    EXPECT_EQ(good->received().toHex(' '), downloadOf(bytes).toHex(' '));
    // The digest is taken in the check's own pass, of the bytes played.
    EXPECT_EQ(
        lastJson(passed.out).value("sha256").toString(),
        QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex()));

    struct Limit {
        QStringList option;
        QString seconds;
    };
    for (const Limit& limit : {Limit{{"--handshake-limit", "1.5"}, "1.5"}, Limit{{}, "5"}}) {
        ChatteringDevice chatter;
        ASSERT_FALSE(chatter.port().isEmpty());
        QElapsedTimer clock;
        clock.start();
        const Outcome o = runReburn3(QStringList{"flash", "--port", chatter.port()} + limit.option +
                                     QStringList{script});
        const qint64 ms = clock.elapsed();
        ASSERT_TRUE(o.finished);
        EXPECT_EQ(o.exitCode, 1) << o.err.toStdString();
        EXPECT_TRUE(o.errLines().contains(
            "reburn3: the device kept sending for " + limit.seconds +
            " s without the 270 ms pause that ends the handshake; the run was aborted "
            "(--handshake-limit). Check that the device is in BURN3 mode and nothing else "
            "talks on the line."))
            << o.err.toStdString();
        EXPECT_EQ(o.verdict,
                  "reburn3: FAILED (exit 1): the device kept sending and never let the handshake "
                  "end; the device was not touched. Check that the device is in BURN3 mode and "
                  "on this port.");
        const QStringList out = o.outLines();
        EXPECT_FALSE(out.contains(kComplete));
        EXPECT_EQ(out.mid(out.size() - 9), closingLines() + exitLines());
        std::printf("handshake limit %s s: the run ended after %lld ms\n",
                    limit.seconds.toLatin1().constData(), static_cast<long long>(ms));
    }

    ChatteringDevice chatter;
    const Outcome json =
        runReburn3({"flash", "--port", chatter.port(), "--handshake-limit", "1", "--json", script});
    EXPECT_EQ(json.exitCode, 1);
    EXPECT_TRUE(hasEvent(json.out, "handshake-limit")) << json.out.toStdString();
    EXPECT_EQ(lastJson(json.out).value("reason").toString(), "handshake-limit");
    EXPECT_EQ(lastJson(json.out).value("result").toString(), "device-failed");
    EXPECT_EQ(lastJson(json.out).value("result").toString(), "device-failed");
    EXPECT_EQ(lastJson(json.out).value("exitCode").toInt(), 1);
    // A device that floods the line as fast as it takes: the limit is the monotonic clock's,
    // and the reply is taken in slices, so the ticks go on (this ran 88 s for a 5 s limit).
    ChatteringDevice flood(true);
    const Outcome flooded =
        runReburn3({"flash", "--port", flood.port(), "--handshake-limit", "1", "--json", script});
    EXPECT_EQ(lastJson(flooded.out).value("reason").toString(), "handshake-limit")
        << flooded.err.toStdString();

    for (const char* bad : {"0.5", "-1", "soon"}) {
        EXPECT_EQ(runReburn3({"flash", "--port", chatter.port(), "--handshake-limit", bad, script})
                      .exitCode,
                  2)
            << bad;
    }
}

// Fills the file system of `folder` (a file "fill" in it) up to `pagesLeft` free pages.
void fillLeaving(const QString& folder, int pagesLeft) {
    const QByteArray fill = (folder + "/fill").toLocal8Bit();
    const int fd = ::open(fill.constData(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    ASSERT_GE(fd, 0);
    const QByteArray page(4096, 'x');
    while (::write(fd, page.constData(), static_cast<std::size_t>(page.size())) > 0) {
    }
    const off_t size = ::lseek(fd, 0, SEEK_END);
    EXPECT_EQ(::ftruncate(fd, std::max<off_t>(0, size - off_t{4096} * pagesLeft)), 0);
    ::close(fd);
}

// A --log line is whole or absent, on a file system of eight pages: one that cannot take
// a line stops the command before the port opens; one that fills up during the run (no
// room at all, or room for part of the line) leaves the file exactly as it was and ends
// the command with its own reason, exit 5, the download's end kept in runReason.
TEST_F(CliFaults, TheLogLineIsWholeOrAbsent) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "mounting the small file system the case needs takes root";
    }
    const QString fs = path("fs");
    ASSERT_TRUE(QDir().mkpath(fs));
    if (::mount("tmpfs", fs.toLocal8Bit().constData(), "tmpfs", 0, "size=32k") != 0) {
        GTEST_SKIP() << "cannot mount a small tmpfs here: " << std::strerror(errno);
    }
    const std::shared_ptr<void> unmount(
        nullptr, [&fs](void*) { ::umount2(fs.toLocal8Bit().constData(), MNT_DETACH); });
    const QByteArray earlier = "{\"type\":\"result\",\"pad\":\"" + QByteArray(4069, 'x') + "\"}\n";
    ASSERT_EQ(earlier.size(), 4096);
    const QByteArray bytes = linesScript(40, 30, 6);
    const QString script = writeScript("s.pf3", bytes);
    struct Case {
        int pagesLeftAtStart;  // -1: no filling before the run
        int pagesLeftMidRun;   // -1: no filling during it
        int tagBytes;
        int exitCode;
    };
    for (const Case& c : {Case{0, -1, 1, 2}, Case{-1, 0, 1, 5}, Case{-1, 1, 6000, 5}}) {
        QFile::remove(fs + "/fill");
        QFile log(fs + "/log.jsonl");
        ASSERT_TRUE(log.open(QIODevice::WriteOnly | QIODevice::Truncate));
        log.write(earlier);
        log.close();
        if (c.pagesLeftAtStart >= 0) {
            fillLeaving(fs, c.pagesLeftAtStart);
        }
        auto dev = device(script);
        QProcess p;
        startReburn3(p, {"flash", "--json", "--log", log.fileName(), "--tag",
                         "t=" + QString(c.tagBytes, 'v'), "--port", dev->port(), script});
        QString seen;
        if (c.pagesLeftMidRun >= 0) {
            ASSERT_TRUE(waitForOutput(p, "Processing ...", seen));
            fillLeaving(fs, c.pagesLeftMidRun);
        }
        const Outcome o = collect(p, seen);
        const QJsonObject result = lastJson(o.out);
        EXPECT_EQ(o.exitCode, c.exitCode) << o.err.toStdString();
        EXPECT_EQ(result.value("exitCode").toInt(), c.exitCode);
        ASSERT_TRUE(log.open(QIODevice::ReadOnly));
        EXPECT_EQ(log.readAll(), earlier) << "the log is not as it was";
        log.close();
        if (c.exitCode == 2) {
            EXPECT_TRUE(
                o.verdict.startsWith("reburn3: NOT STARTED (exit 2): the log file cannot "
                                     "take a line: "))
                << o.verdict.toStdString();
            EXPECT_TRUE(dev->received().isEmpty());
            continue;
        }
        EXPECT_EQ(result.value("reason").toString(), "log-failed");
        EXPECT_EQ(result.value("runReason").toString(), "completed");
        EXPECT_TRUE(result.value("completed").toBool());
        EXPECT_TRUE(
            o.verdict.contains(": No space left on device; the record of this download "
                               "is lost. The download: DONE: "))
            << o.verdict.toStdString();
        EXPECT_EQ(dev->received().toHex(' '), downloadOf(bytes).toHex(' '));
    }
}

// A SIGTERM sent the moment the process exists: held pending (blocked in the parent,
// as the child inherits it) until the program unblocks it, which it does only once its
// handlers are in place, before anything else.
TEST_F(CliFaults, ASignalInTheFirstMillisecondsGetsAVerdictAndAResult) {
    const QString script = writeScript("s.pf3", linesScript(10, 8, 7));
    auto dev = device(script);
    sigset_t term;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &term, nullptr), 0);
    QProcess p;
    startReburn3(p, {"flash", "--json", "--port", dev->port(), script});
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    ASSERT_EQ(::pthread_sigmask(SIG_UNBLOCK, &term, nullptr), 0);
    const Outcome o = collect(p);
    ASSERT_TRUE(o.finished) << "ended by the signal itself";
    EXPECT_EQ(o.exitCode, 130);
    EXPECT_EQ(lastJson(o.out).value("reason").toString(), "interrupted");
    EXPECT_EQ(o.verdict,
              "reburn3: INTERRUPTED (exit 130) before the download started; the "
              "device was not touched.");
    EXPECT_TRUE(dev->received().isEmpty());
}

// Closed standard descriptors must not be taken for the signal watcher's pipe, and a
// port named relative to the working folder is found there; every message names the
// path that was tried.
TEST_F(CliFaults, ClosedDescriptorsAndRelativePortNames) {
    const QByteArray bytes = linesScript(10, 8, 4);
    const QString script = writeScript("s.pf3", bytes);

    auto closedFds = device(script);
    QProcess shell;
    shell.start("/bin/sh", {"-c", "exec \"$0\" flash --port \"$1\" \"$2\" <&- >&- 2>&-", binary(),
                            closedFds->port(), script});
    ASSERT_TRUE(shell.waitForFinished(kProcessLimitMs));
    EXPECT_EQ(shell.exitCode(), 0) << "a log line was read back as a signal";
    EXPECT_EQ(closedFds->received().toHex(' '), downloadOf(bytes).toHex(' '));

    auto relative = device(script);
    ASSERT_TRUE(QFile::link(relative->port(), path("myport")));
    QProcess inFolder;
    inFolder.setWorkingDirectory(dir.path());
    inFolder.start(binary(), {"flash", "--port", "myport", script});
    const Outcome found = collect(inFolder);
    EXPECT_EQ(found.exitCode, 0) << found.err.toStdString();
    EXPECT_EQ(relative->received().toHex(' '), downloadOf(bytes).toHex(' '));

    struct Missing {
        QString given;
        QString tried;
    };
    for (const Missing& m :
         {Missing{"sub/none", dir.path() + "/sub/none"}, Missing{"./none", dir.path() + "/none"},
          Missing{"nosuchport", "/dev/nosuchport"}}) {
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.start(binary(), {"flash", "--port", m.given, script});
        const Outcome o2 = collect(p);
        EXPECT_EQ(o2.exitCode, 4);
        EXPECT_TRUE(o2.errLines().contains("The serial device " + m.tried + " does not exist."))
            << o2.err.toStdString();
    }
}

// Ctrl-C, SIGTERM and SIGHUP (a dropped SSH session) end a session cleanly whether they
// come during the whole-file check or during the run.
struct SignalCase {
    const char* name;
    int signal;
    bool duringCheck;
};

void PrintTo(const SignalCase& c, std::ostream* os) {
    *os << c.name;
}

class SignalsEndTheSession : public ReliabilityTest,
                             public ::testing::WithParamInterface<SignalCase> {
protected:
    // A script whose check takes a good part of a second: 96 MB.
    static void SetUpTestSuite() {
        bigDir = std::make_unique<QTemporaryDir>();
        const QByteArray line = linesScript(1, 16, 716);
        QByteArray block;
        while (block.size() < (1 << 20)) {
            block += line;
        }
        QFile f(bigDir->filePath("big.pf3"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        for (int i = 0; i < 96; ++i) {
            f.write(block);
        }
    }
    static void TearDownTestSuite() { bigDir.reset(); }
    static QString big() { return bigDir->filePath("big.pf3"); }

    // Whether the process `pid` holds `file` open.
    static bool holdsOpen(qint64 pid, const QString& file) {
        std::error_code error;
        const std::filesystem::path fds = "/proc/" + std::to_string(pid) + "/fd";
        for (std::filesystem::directory_iterator it(fds, error), end; !error && it != end;
             it.increment(error)) {
            std::error_code linkError;
            if (std::filesystem::read_symlink(it->path(), linkError) == file.toStdString()) {
                return true;
            }
        }
        return false;
    }

    static std::unique_ptr<QTemporaryDir> bigDir;
};

std::unique_ptr<QTemporaryDir> SignalsEndTheSession::bigDir;

TEST_P(SignalsEndTheSession, WithTheClosingLinesAndAResult) {
    const SignalCase& c = GetParam();
    const QByteArray small = linesScript(400, 16, 5);
    const QString script = c.duringCheck ? big() : writeScript("s.pf3", small);
    auto dev = device(c.duringCheck ? writeScript("s.pf3", small) : script);
    QProcess p;
    startReburn3(p, {"flash", "--port", dev->port(), "--json", script});
    QString seen;
    if (c.duringCheck) {
        QElapsedTimer clock;
        clock.start();
        while (!holdsOpen(p.processId(), script) && clock.elapsed() < kProcessLimitMs) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        // Into the check (it takes most of a second); any moment before the run does.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } else {
        ASSERT_TRUE(waitForOutput(p, "Processing ...   180", seen)) << seen.toStdString();
    }
    QElapsedTimer sinceSignal;
    sinceSignal.start();
    ::kill(static_cast<pid_t>(p.processId()), c.signal);
    const Outcome o = collect(p, seen);
    std::printf("%s: ended %lld ms after the signal\n", c.name,
                static_cast<long long>(sinceSignal.elapsed()));
    ASSERT_TRUE(o.finished) << "ended by the signal itself";
    EXPECT_EQ(o.exitCode, 130) << o.err.toStdString();
    const QJsonObject result = lastJson(o.out);
    EXPECT_EQ(result.value("exitCode").toInt(), 130) << o.out.toStdString();
    // Named one way, before the run and during it.
    EXPECT_EQ(result.value("result").toString(), "interrupted");
    EXPECT_EQ(result.value("reason").toString(), "interrupted");
    EXPECT_EQ(result.value("partlyProgrammed").toBool(), !c.duringCheck);
    EXPECT_TRUE(o.verdict.startsWith("reburn3: INTERRUPTED (exit 130) ")) << o.err.toStdString();
    EXPECT_FALSE(o.out.contains(kComplete));
    const QByteArray got = dev->received();
    if (c.duringCheck) {
        // Stopped inside the check: no port opened, no byte sent.
        // (--json: the debug lines are on standard output too)
        EXPECT_TRUE(
            o.out.contains("** ERROR ** Script check interrupted, nothing was sent: " + script))
            << o.out.toStdString();
        EXPECT_FALSE(o.out.contains("COM port initialized and opened."));
        EXPECT_TRUE(got.isEmpty());
    } else {
        EXPECT_TRUE(o.out.contains("If aborting, cycle interface power before trying again."));
        EXPECT_TRUE(o.out.contains("Program terminated."));
        EXPECT_TRUE(downloadOf(small).startsWith(got));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, SignalsEndTheSession,
                         ::testing::Values(SignalCase{"CtrlCDuringTheCheck", SIGINT, true},
                                           SignalCase{"SigtermDuringTheCheck", SIGTERM, true},
                                           SignalCase{"SighupDuringTheCheck", SIGHUP, true},
                                           SignalCase{"CtrlCDuringTheRun", SIGINT, false},
                                           SignalCase{"SigtermDuringTheRun", SIGTERM, false},
                                           SignalCase{"SighupDuringTheRun", SIGHUP, false}),
                         [](const ::testing::TestParamInfo<SignalCase>& param) {
                             return param.param.name;
                         });

// Files that are not what an option means are refused at once, with the reason and
// the exit code of the option (2: an output, 3: the script), before the port opens: a
// FIFO without a reader (which open() would wait on for ever), one with a reader, a
// socket, a script too large for any run (a sparse file: nothing to copy).
TEST_F(CliFaults, FilesThatAreNotWhatTheOptionMeansAreRefusedAtOnce) {
    const QString script = writeScript("s.pf3", linesScript(10, 8, 3));
    const QString fifo = path("fifo");
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    const QString busyFifo = path("busy");
    ASSERT_EQ(::mkfifo(busyFifo.toLocal8Bit().constData(), 0600), 0);
    const int reader = ::open(busyFifo.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const std::shared_ptr<void> closeReader(nullptr, [reader](void*) { ::close(reader); });
    const QString huge = path("huge.pf3");
    ASSERT_EQ(::truncate((writeScript("huge.pf3", {}).toLocal8Bit()).constData(), 9LL << 30), 0);
    struct Case {
        const char* name;
        QStringList args;  // before the port and the script; "SCRIPT": the script's place
        QString scriptGiven;
        int exitCode;
        QString verdict;  // the last line on standard error, whole or its start
    };
    const Case cases[] = {
        {"flash, the script a FIFO",
         {"flash"},
         fifo,
         3,
         "reburn3: FAILED (exit 3): cannot read the script " + fifo +
             ": it is a FIFO (named pipe), not a regular file; the device was not touched."},
        {"check, the script a FIFO",
         {"check"},
         fifo,
         3,
         "** ERROR ** Cannot open the input file: " + fifo +
             ": it is a FIFO (named pipe), not a regular file"},
        {"--log a FIFO",
         {"flash", "--log", fifo},
         script,
         2,
         "reburn3: NOT STARTED (exit 2): cannot write the log file " + fifo +
             ": it is a FIFO (named pipe); the log takes a regular file or /dev/null; the "
             "device was not touched."},
        {"--trace a FIFO",
         {"flash", "--trace", fifo},
         script,
         2,
         "reburn3: NOT STARTED (exit 2): cannot write the trace file " + fifo +
             ": it is a FIFO (named pipe); the trace takes a regular file, /dev/null, or "
             "the command's standard output or error; the device was not touched."},
        {"--log a FIFO with a reader",
         {"flash", "--log", busyFifo},
         script,
         2,
         "reburn3: NOT STARTED (exit 2): cannot write the log file " + busyFifo +
             ": it is a FIFO (named pipe); the log takes"},
        {"a script of 9 GiB",
         {"flash"},
         huge,
         3,
         "reburn3: FAILED (exit 3): cannot read the script " + huge +
             ": it holds 9663676416 bytes, more than the largest a run can play (8589934588 "
             "bytes: 2147483647 records); the device was not touched."},
    };
    for (const Case& c : cases) {
        auto dev = device(script);
        QStringList args = c.args;
        if (args.front() == "flash") {
            args << "--port" << dev->port();
        }
        args << c.scriptGiven;
        QElapsedTimer clock;
        clock.start();
        const Outcome o = runReburn3(args);
        std::printf("%s: exit %d after %lld ms\n", c.name, o.exitCode,
                    static_cast<long long>(clock.elapsed()));
        ASSERT_TRUE(o.finished) << c.name;
        EXPECT_EQ(o.exitCode, c.exitCode) << c.name << ": " << o.err.toStdString();
        const QString last = o.errLines().isEmpty() ? QString() : o.errLines().back();
        EXPECT_TRUE((o.verdict.isEmpty() ? last : o.verdict).startsWith(c.verdict))
            << c.name << ": " << o.err.toStdString();
        EXPECT_TRUE(dev->received().isEmpty()) << c.name;
    }
}

// Writes `bytes` to a file named by `name` as the system's bytes (any bytes but / and NUL).
void writeRaw(const std::string& name, const QByteArray& bytes) {
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << name;
    EXPECT_EQ(::write(fd, bytes.constData(), static_cast<std::size_t>(bytes.size())), bytes.size());
    ::close(fd);
}

QByteArray readRaw(const std::string& name) {
    const int fd = ::open(name.c_str(), O_RDONLY);
    if (fd < 0) {
        return "(missing)";
    }
    QByteArray bytes;
    char block[4096];
    for (ssize_t n = 0; (n = ::read(fd, block, sizeof block)) > 0;) {
        bytes.append(block, n);
    }
    ::close(fd);
    return bytes;
}

// A name as a word of a shell command that is plain ASCII: the bytes are made by
// printf from octal escapes, so that they reach the program as they are (QProcess would
// take them as text and change the bytes that are not UTF-8).
std::string shellWord(const std::string& bytes) {
    std::string word = "\"$(printf '";
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x80 || c == '\'' || c == '\\' || c == '%') {
            char octal[8];
            std::snprintf(octal, sizeof octal, "\\%03o", b);
            word += octal;
        } else {
            word += c;
        }
    }
    return word + "')\"";
}

// An output file that is the script, the port or the other output, however it is named
// (a symlink, a path through "..", a name that is not UTF-8), is refused before anything
// is written or sent: exit 2, the reason, the script byte for byte as it was, the device
// untouched. Two names that differ only in bytes that are not UTF-8 are two files: that
// run goes through and leaves the script alone.
TEST_F(CliFaults, AnOutputFileIsNeverTheScriptThePortOrTheOtherOutput) {
    const QByteArray bytes = linesScript(10, 8, 9);
    const std::string folder = dir.path().toStdString();
    const std::string scriptName = folder + "/fw\xfe.pf3";  // not UTF-8
    writeRaw(scriptName, bytes);
    const std::string plain = folder + "/plain.pf3";
    writeRaw(plain, bytes);
    ASSERT_EQ(::symlink(plain.c_str(), (folder + "/link.txt").c_str()), 0);
    ASSERT_TRUE(QDir().mkpath(dir.filePath("sub")));
    struct Case {
        const char* name;
        std::string script;
        std::string options;  // for the shell: "$PORT" is the device's port
        QString reason;       // "" : the run goes through
    };
    const std::string other = shellWord(folder + "/fw\xff.pf3");
    // Qt cannot remove names that are not text: they go first.
    const std::shared_ptr<void> removeRaw(nullptr, [folder](void*) {
        ::unlink((folder + "/fw\xfe.pf3").c_str());
        ::unlink((folder + "/fw\xff.pf3").c_str());
    });
    const Case cases[] = {
        {"--trace SCRIPT", plain, "--trace " + shellWord(plain),
         "trace file " + QString::fromStdString(plain) + ": it is the script to download"},
        {"--log SCRIPT", plain, "--log " + shellWord(plain),
         "log file " + QString::fromStdString(plain) + ": it is the script to download"},
        {"--trace through a symlink and ..", plain,
         "--trace " + shellWord(folder + "/sub/../link.txt"), ": it is the script to download"},
        {"--trace PORT", plain, "--trace \"$PORT\"", ": it is the port "},
        {"--log PORT", plain, "--log \"$PORT\"", ": it is the port "},
        {"--log and --trace the same file", plain,
         "--log " + shellWord(folder + "/out") + " --trace " + shellWord(folder + "/sub/../out"),
         ": it is the log file " + QString::fromStdString(folder) + "/out"},
        {"--trace the script's own invalid UTF-8 name", scriptName,
         "--trace " + shellWord(scriptName), ": it is the script to download"},
        {"--trace=another invalid UTF-8 name", scriptName, "--trace=" + other, ""},
    };
    for (const Case& c : cases) {
        auto dev = device(QString::fromStdString(plain));
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PORT", dev->port());
        p.setProcessEnvironment(env);
        p.start("/bin/sh", {"-c",
                            QString::fromStdString("exec \"$0\" flash -q --port \"$PORT\" " +
                                                   c.options + " -- " + shellWord(c.script)),
                            binary()});
        const Outcome o = collect(p);
        ASSERT_TRUE(o.finished) << c.name;
        EXPECT_EQ(readRaw(c.script), bytes) << c.name << ": the script changed";
        if (c.reason.isEmpty()) {
            EXPECT_EQ(o.exitCode, 0) << c.name << ": " << o.err.toStdString();
            EXPECT_EQ(dev->received(), downloadOf(bytes)) << c.name;
            continue;
        }
        EXPECT_EQ(o.exitCode, 2) << c.name << ": " << o.err.toStdString();
        EXPECT_TRUE(o.verdict.startsWith("reburn3: NOT STARTED (exit 2): cannot write the "))
            << c.name << ": " << o.verdict.toStdString();
        EXPECT_TRUE(o.verdict.contains(c.reason)) << c.name << ": " << o.verdict.toStdString();
        EXPECT_TRUE(dev->received().isEmpty()) << c.name;
    }
    // Names of files that are not there yet: a port --wait-for-port waits for, a script
    // that is missing. The output would create them; it is refused and creates nothing.
    const QString absent = dir.filePath("notyet");
    const QString script = QString::fromStdString(plain);
    for (const QStringList& args :
         {QStringList{"--port", absent, "--wait-for-port", "1", "--trace", absent, script},
          QStringList{"--port", absent, "--log", dir.filePath("sub/../missing.pf3"),
                      dir.filePath("missing.pf3")}}) {
        const Outcome o = runReburn3(QStringList{"flash"} + args);
        EXPECT_EQ(o.exitCode, 2) << o.err.toStdString();
        EXPECT_TRUE(o.verdict.contains(args.size() == 7 ? ": it is the port " + absent
                                                        : QString(": it is the script")))
            << o.verdict.toStdString();
        EXPECT_FALSE(QFile::exists(absent));
        EXPECT_FALSE(QFile::exists(dir.filePath("missing.pf3")));
    }
}

// A full disk under --trace and under the --json output: the download goes on (the
// device gets every byte), and the command ends with exit 5 and a verdict that names the
// file and the system's words, never exit 0. The JSON output keeps only whole lines: a
// result that does not fit is not written at all. On a tmpfs of eight pages (root only);
// else the JSON case alone, on /dev/full.
TEST_F(CliFaults, AFullDiskUnderTheTraceOrTheJsonIsToldNeverExitZero) {
    const QByteArray bytes = linesScript(200, 16, 12);
    const QString script = writeScript("s.pf3", bytes);
    // `check` too: a report that was not written is no verdict on the script.
    for (const QStringList& check :
         {QStringList{"check", script}, QStringList{"check", "--json", script}}) {
        QProcess p;
        p.setStandardOutputFile("/dev/full");
        startReburn3(p, check);
        const Outcome o = collect(p);
        EXPECT_EQ(o.exitCode, 5) << o.err.toStdString();
        EXPECT_EQ(o.errLines().value(0),
                  "reburn3: the check's report could not be written to "
                  "standard output: No space left on device");
    }
    const QString fs = path("fs");
    ASSERT_TRUE(QDir().mkpath(fs));
    const bool small = ::geteuid() == 0 &&
                       ::mount("tmpfs", fs.toLocal8Bit().constData(), "tmpfs", 0, "size=32k") == 0;
    const std::shared_ptr<void> unmount(nullptr, [small, &fs](void*) {
        if (small) {
            ::umount2(fs.toLocal8Bit().constData(), MNT_DETACH);
        }
    });
    if (!small) {
        std::printf("no small tmpfs (root only): the JSON case on /dev/full alone\n");
    }
    struct Case {
        const char* name;
        bool trace;  // else --json to a file on the small file system
        QString told;
    };
    for (const Case& c :
         {Case{"--trace", true, "the trace file could not be written: " + fs + "/trace.txt: "},
          Case{"--json", false, "the JSON result could not be written to standard output: "}}) {
        if (!small && c.trace) {
            continue;
        }
        QFile::remove(fs + "/fill");
        auto dev = device(script);
        QProcess p;
        QStringList args{"flash", "--port", dev->port(), script};
        if (c.trace) {
            args << "--trace" << fs + "/trace.txt";
        } else {
            args << "--json";
            p.setStandardOutputFile(small ? fs + "/out.jsonl" : "/dev/full");
        }
        startReburn3(p, args);
        if (small) {
            // Full before the run ends: a trace line a byte, JSON progress lines.
            QElapsedTimer clock;
            clock.start();
            while (QFileInfo(fs + (c.trace ? "/trace.txt" : "/out.jsonl")).size() < 1024 &&
                   clock.elapsed() < kProcessLimitMs) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            fillLeaving(fs, 0);
        }
        const Outcome o = collect(p);
        ASSERT_TRUE(o.finished) << c.name;
        EXPECT_EQ(o.exitCode, 5) << c.name << ": " << o.err.toStdString();
        EXPECT_TRUE(o.verdict.startsWith("reburn3: FAILED (exit 5): "))
            << c.name << ": " << o.verdict.toStdString();
        EXPECT_TRUE(o.verdict.contains("No space left on device")) << o.verdict.toStdString();
        if (c.trace || small) {
            EXPECT_TRUE(o.verdict.contains(c.told)) << c.name << ": " << o.verdict.toStdString();
        }
        EXPECT_TRUE(o.verdict.contains("The download: DONE")) << o.verdict.toStdString();
        EXPECT_EQ(dev->received(), downloadOf(bytes)) << c.name;
        if (!c.trace && small) {
            // Whole lines only: every line of the output is JSON.
            QFile out(fs + "/out.jsonl");
            ASSERT_TRUE(out.open(QIODevice::ReadOnly));
            const QByteArray text = out.readAll();
            EXPECT_TRUE(text.isEmpty() || text.endsWith('\n'));
            EXPECT_FALSE(text.contains("\"type\":\"result\"")) << "a result that does not fit";
        }
    }
}

// An append-only log (chattr +a) takes whole lines as any other: nothing is allocated
// ahead of a line that the file would keep as NUL bytes. Skipped where the test's file
// system has no such attribute, or the test is not root.
TEST_F(CliFaults, AnAppendOnlyLogTakesWholeLinesAndNothingElse) {
    const QString script = writeScript("s.pf3", linesScript(10, 8, 13));
    const QString log = path("log.jsonl");
    writeScript("log.jsonl", "{\"type\":\"result\"}\n");
    const QByteArray name = log.toLocal8Bit();
    if (QProcess::execute("chattr", {"+a", log}) != 0) {
        GTEST_SKIP() << "chattr +a does not work on " << dir.path().toStdString()
                     << " (not root, or a file system without the attribute)";
    }
    const std::shared_ptr<void> clear(nullptr, [&log](void*) {
        QProcess::execute("chattr", {"-a", log});
    });
    for (int run = 0; run < 2; ++run) {
        auto dev = device(script);
        const Outcome o = runReburn3({"flash", "-q", "--log", log, "--port", dev->port(), script});
        EXPECT_EQ(o.exitCode, 0) << o.err.toStdString();
    }
    QFile f(log);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    EXPECT_FALSE(text.contains('\0')) << "NUL bytes in the log";
    const QList<QByteArray> lines = text.split('\n');
    ASSERT_EQ(lines.size(), 4) << text.toStdString();  // three lines and the end
    for (int i = 1; i < 3; ++i) {
        EXPECT_EQ(QJsonDocument::fromJson(lines[i]).object().value("exitCode").toInt(-1), 0);
    }
}

// The copy of the script that a run plays cannot be written by anyone, through any
// descriptor: opening it through /proc/PID/fd for writing gives no way to change it
// (as root too), and the device gets the checked bytes.
TEST_F(CliFaults, TheScriptCopyIsSealed) {
    const QByteArray bytes = linesScript(300, 16, 14);
    const QString script = writeScript("s.pf3", bytes);
    auto dev = device(script);
    QProcess p;
    startReburn3(p, {"flash", "--port", dev->port(), script});
    QString seen;
    ASSERT_TRUE(waitForOutput(p, "Processing ...", seen));
    const std::string fds = "/proc/" + std::to_string(p.processId()) + "/fd";
    int copies = 0;
    std::error_code error;
    for (std::filesystem::directory_iterator it(fds, error), end; !error && it != end;
         it.increment(error)) {
        std::error_code linkError;
        const std::string target = std::filesystem::read_symlink(it->path(), linkError).string();
        if (target.rfind("/memfd:reburn3-script", 0) != 0) {
            continue;
        }
        ++copies;
        const int fd = ::open(it->path().c_str(), O_RDWR);
        if (fd >= 0) {
            EXPECT_EQ(::pwrite(fd, "T00:", 4, 0), -1) << "written through " << it->path();
            EXPECT_EQ(::ftruncate(fd, 0), -1);
            EXPECT_EQ(::fcntl(fd, F_GET_SEALS) & (F_SEAL_WRITE | F_SEAL_SHRINK | F_SEAL_GROW),
                      F_SEAL_WRITE | F_SEAL_SHRINK | F_SEAL_GROW);
            ::close(fd);
        }
    }
    EXPECT_GE(copies, 1) << "no sealed copy among the open files";
    const Outcome o = collect(p, seen);
    EXPECT_EQ(o.exitCode, 0) << o.err.toStdString();
    EXPECT_EQ(dev->received(), downloadOf(bytes));
}

// A SIGTERM the moment the verdict "DONE" is on standard error does not turn the exit
// code into a kill: the verdict is what the command ends with.
TEST_F(CliFaults, ASignalAfterTheVerdictChangesNothing) {
    const QByteArray bytes = linesScript(4, 4, 15);
    const QString script = writeScript("s.pf3", bytes);
    for (int run = 0; run < 5; ++run) {
        auto dev = device(script);
        QProcess p;
        startReburn3(p, {"flash", "-q", "--port", dev->port(), script});
        QByteArray err;
        QElapsedTimer clock;
        clock.start();
        while (!err.contains("reburn3: DONE") && clock.elapsed() < kProcessLimitMs &&
               p.state() == QProcess::Running) {
            p.waitForReadyRead(5);
            err += p.readAllStandardError();
        }
        ASSERT_TRUE(err.contains("reburn3: DONE")) << err.toStdString();
        // (A process already reaped has no id: kill(0) would signal this test's group.)
        if (const qint64 pid = p.processId(); pid > 0) {
            ::kill(static_cast<pid_t>(pid), SIGTERM);
        }
        p.waitForFinished(kProcessLimitMs);
        ASSERT_EQ(p.state(), QProcess::NotRunning);
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << "killed after its verdict";
        EXPECT_EQ(p.exitCode(), 0);
    }
}

}  // namespace
}  // namespace reburn3::reliability
