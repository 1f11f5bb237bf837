// SPDX-License-Identifier: Apache-2.0
// A 200 MB script, made at test time in a temporary folder: `reburn3 check` accepts it with
// the right counts in constant memory, and `reburn3 flash` starts on it and can be
// interrupted a few hundred records in.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>

#include "reliability/harness.h"

extern char** environ;

namespace reburn3::reliability {
namespace {

constexpr int kPerLine = 16;                       // T bytes per line, then one R and one E
constexpr qint64 kLineBytes = (kPerLine + 2) * 4;  // 72
constexpr qint64 kLines = 2'912'000;               // 209 664 000 bytes
constexpr qint64 kRecords = kLines * (kPerLine + 2);

// Runs `reburn3 check SCRIPT` with its standard output in `outPath`; returns the exit
// code and the peak resident memory of the check (kB), as the kernel counted it.
struct Measured {
    int exitCode = -1;
    long peakRssKb = -1;
};

Measured measureCheck(const QString& script, const QString& outPath) {
    const QByteArray bin = binary().toLocal8Bit();
    const QByteArray file = script.toLocal8Bit();
    const QByteArray out = outPath.toLocal8Bit();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.constData(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    char check[] = "check";
    char* argv[] = {const_cast<char*>(bin.constData()), check, const_cast<char*>(file.constData()),
                    nullptr};
    pid_t pid = 0;
    Measured m;
    if (posix_spawn(&pid, bin.constData(), &actions, nullptr, argv, environ) == 0) {
        int status = 0;
        rusage usage{};
        if (::wait4(pid, &status, 0, &usage) == pid && WIFEXITED(status)) {
            m.exitCode = WEXITSTATUS(status);
            m.peakRssKb = usage.ru_maxrss;
        }
    }
    posix_spawn_file_actions_destroy(&actions);
    return m;
}

QString readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

class BigScript : public ReliabilityTest {
protected:
    // Writes the first `lines` lines of the big script (the same line again and again).
    QString makeScript(const QString& name, qint64 lines) {
        const QByteArray line = linesScript(1, kPerLine, 716);
        QByteArray block;
        const qint64 perBlock = 1 << 14;
        for (qint64 i = 0; i < perBlock; ++i) {
            block += line;
        }
        const QString file = path(name);
        QFile f(file);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        qint64 left = lines;
        while (left > 0) {
            const qint64 now = std::min(left, perBlock);
            f.write(block.constData(), now * kLineBytes);
            left -= now;
        }
        return file;
    }
};

TEST_F(BigScript, CheckAcceptsItInConstantMemoryAndFlashStartsOnIt) {
    const QString big = makeScript("big.pf3", kLines);
    ASSERT_EQ(QFile(big).size(), kLines * kLineBytes);
    const QString small = makeScript("small.pf3", 10);

    const Measured smallCheck = measureCheck(small, path("small.txt"));
    const Measured bigCheck = measureCheck(big, path("big.txt"));
    ASSERT_EQ(smallCheck.exitCode, 0);
    ASSERT_EQ(bigCheck.exitCode, 0) << readAll(path("big.txt")).toStdString();
    const QString report = readAll(path("big.txt"));
    EXPECT_TRUE(report.contains(QString("Records:         %1\n").arg(kRecords)))
        << report.toStdString();
    EXPECT_TRUE(report.contains(QString("Script lines:    %1\n").arg(kLines)));
    EXPECT_TRUE(report.contains(QString("Bytes to send:   %1\n").arg(kLines * kPerLine)));
    EXPECT_TRUE(report.contains(QString("Bytes to verify: %1\n").arg(kLines)));
    std::printf("check: peak RSS %ld kB on a %lld-byte script, %ld kB on a %lld-byte one\n",
                bigCheck.peakRssKb, static_cast<long long>(kLines * kLineBytes),
                smallCheck.peakRssKb, static_cast<long long>(10 * kLineBytes));
    RecordProperty("checkPeakRssKbBig", static_cast<int>(bigCheck.peakRssKb));
    RecordProperty("checkPeakRssKbSmall", static_cast<int>(smallCheck.peakRssKb));
    // The script is read as a stream: its size does not show in the memory used.
    EXPECT_LT(bigCheck.peakRssKb, smallCheck.peakRssKb + 16 * 1024);

    // The device plays the script's first lines, which is as far as the run gets.
    const QString head = makeScript("head.pf3", 1000);
    auto dev = device(head);
    QProcess p;
    startReburn3(p, {"flash", "--port", dev->port(), big});
    QString seen;
    // 20 lines of 18 records, after a copy and two checks of 200 MB (slow in a sanitizer
    // build on a busy machine).
    ASSERT_TRUE(waitForOutput(p, "Processing ...   360", seen, 4 * kProcessLimitMs))
        << seen.toStdString();
    // The run plays the copy its check took of all 200 MB: a file, not the process's memory.
    const QString status = readAll(QString("/proc/%1/status").arg(p.processId()));
    const long flashPeakKb = status.section("VmHWM:", 1).trimmed().section(' ', 0, 0).toLong();
    std::printf("flash: peak RSS %ld kB on the %lld-byte script\n", flashPeakKb,
                static_cast<long long>(kLines * kLineBytes));
    EXPECT_LT(flashPeakKb, smallCheck.peakRssKb + 16 * 1024);
    const Outcome o = interruptRun(p, seen);
    ASSERT_TRUE(o.finished);
    const QByteArray got = dev->received();
    EXPECT_GE(got.size(), 2 + 20 * kPerLine);
    QFile headFile(head);
    ASSERT_TRUE(headFile.open(QIODevice::ReadOnly));
    EXPECT_TRUE(downloadOf(headFile.readAll()).startsWith(got));
}

}  // namespace
}  // namespace reburn3::reliability
