// SPDX-License-Identifier: Apache-2.0
#include "reliability/harness.h"

#include "fakes/expected_lines.h"
#include "json/json_lines_check.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>

#include <csignal>
#include <random>

namespace reburn3::reliability {

namespace {

const QString kPleaseWait = QStringLiteral("Program Mode = 103 ... please wait");

QStringList splitLines(const QString& text) {
    QStringList lines = text.split('\n');
    if (!lines.isEmpty() && lines.back().isEmpty()) {
        lines.removeLast();
    }
    static const QRegularExpression time(QStringLiteral("\\b\\d\\d:\\d\\d:\\d\\d\\b"));
    for (QString& line : lines) {
        line.replace(time, QStringLiteral("hh:mm:ss"));
        // A progress line shows the time only when the second has changed since the last.
        line.remove(QStringLiteral("          Time: hh:mm:ss"));
    }
    return lines;
}

}  // namespace

QStringList Outcome::outLines() const {
    QStringList folded;
    for (const QString& line : splitLines(out)) {
        if (line == kPleaseWait && !folded.isEmpty() && folded.back() == kPleaseWait) {
            continue;
        }
        folded << line;
    }
    return folded;
}

QStringList Outcome::errLines() const {
    return splitLines(err);
}

int Outcome::pleaseWait() const {
    return static_cast<int>(splitLines(out).count(kPleaseWait));
}

QString binary() {
    return QStringLiteral(REBURN3_BIN);
}

void startReburn3(QProcess& process, const QStringList& args) {
    process.start(binary(), args);
    process.waitForStarted(kProcessLimitMs);
}

bool waitForOutput(QProcess& process, const QString& text, QString& seen, int limitMs) {
    QElapsedTimer clock;
    clock.start();
    while (!seen.contains(text) && clock.elapsed() < limitMs) {
        const bool more = process.waitForReadyRead(100);
        seen += QString::fromUtf8(process.readAllStandardOutput());
        if (!more && process.state() == QProcess::NotRunning) {
            break;
        }
    }
    return seen.contains(text);
}

namespace {

// Takes the download's first and last lines out of its standard error, so that the
// lines in between compare as they always have.
void splitOffHeaderAndVerdict(Outcome& o) {
    static const QRegularExpression header("^reburn3 [0-9][^\n]*\n");
    static const QRegularExpression verdict(
        "(^|\n)(reburn3: (DONE|FAILED|INTERRUPTED|NOT STARTED)[^\n]*)\n$");
    if (const QRegularExpressionMatch m = header.match(o.err); m.hasMatch()) {
        o.header = m.captured(0).chopped(1);
        o.err.remove(0, static_cast<int>(m.capturedLength(0)));
    }
    if (const QRegularExpressionMatch m = verdict.match(o.err); m.hasMatch()) {
        o.verdict = m.captured(2);
        o.err.truncate(static_cast<int>(m.capturedStart(2)));
    }
}

}  // namespace

Outcome collect(QProcess& process, const QString& seenBefore) {
    Outcome o;
    o.finished = process.waitForFinished(kProcessLimitMs);
    if (!o.finished) {
        process.kill();
        process.waitForFinished(2000);
    }
    o.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    o.out = seenBefore + QString::fromUtf8(process.readAllStandardOutput());
    o.err = QString::fromUtf8(process.readAllStandardError());
    json_check::noteJsonLines(o.out);
    splitOffHeaderAndVerdict(o);
    return o;
}

Outcome interruptRun(QProcess& process, const QString& seenBefore) {
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    const Outcome o = collect(process, seenBefore);
    EXPECT_TRUE(o.finished);
    EXPECT_EQ(o.exitCode, 130) << o.err.toStdString();
    const QStringList out = o.outLines();
    EXPECT_EQ(out.mid(out.size() - 9), closingLines() + exitLines());
    EXPECT_FALSE(out.contains("Processing complete.  Exit this application."));
    // The verdict is the last line, or, in a series, the last before the series' report.
    EXPECT_TRUE(o.verdict.startsWith("reburn3: INTERRUPTED (exit 130) ") ||
                o.err.contains("\nreburn3: INTERRUPTED (exit 130) "))
        << o.err.toStdString();
    return o;
}

Outcome runReburn3(const QStringList& args, const QProcessEnvironment& env) {
    QProcess process;
    process.setProcessEnvironment(env);
    startReburn3(process, args);
    return collect(process);
}

Device::Device(const QString& script, const QStringList& faults, const QString& recordPath,
               int lifetimeSeconds)
    : m_record(recordPath) {
    QStringList args{"simulate", script,       "--record",
                     recordPath, "--lifetime", QString::number(lifetimeSeconds)};
    args += faults;
    startReburn3(m_process, args);
    QElapsedTimer clock;
    clock.start();
    while (!m_process.canReadLine() && clock.elapsed() < kProcessLimitMs &&
           m_process.state() == QProcess::Running) {
        m_process.waitForReadyRead(100);
    }
    m_port = QString::fromUtf8(m_process.readLine()).trimmed();
}

Device::~Device() {
    stop();
}

void Device::stop() {
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(2000);
        }
    }
}

QByteArray Device::received() {
    stop();
    QFile file(m_record);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool Device::waitForEnd(int limitMs) {
    return m_process.state() == QProcess::NotRunning || m_process.waitForFinished(limitMs);
}

QString Device::errors() {
    stop();
    return QString::fromUtf8(m_process.readAllStandardError());
}

QByteArray scriptOf(const std::vector<std::string>& records) {
    QByteArray bytes;
    for (const std::string& r : records) {
        bytes += r == "E" ? QByteArray("E\r\n:") : QByteArray::fromStdString(r + ":");
    }
    return bytes;
}

QByteArray downloadOf(const QByteArray& script) {
    QByteArray bytes("\xE1\x94");
    for (qsizetype i = 0; i + 4 <= script.size(); i += 4) {
        if (script[i] == 'T') {
            bytes += static_cast<char>(script.mid(i + 1, 2).toInt(nullptr, 16));
        }
    }
    return bytes;
}

QByteArray linesScript(int lines, int perLine, unsigned seed) {
    std::mt19937 random(seed);
    QByteArray bytes;
    char record[8];
    for (int line = 0; line < lines; ++line) {
        for (int i = 0; i < perLine; ++i) {
            std::snprintf(record, sizeof record, "T%02X:", static_cast<unsigned>(random() & 0xFF));
            bytes += record;
        }
        std::snprintf(record, sizeof record, "R%02X:", static_cast<unsigned>(line & 0xFF));
        bytes += record;
        bytes += "E\r\n:";
    }
    return bytes;
}

QStringList runStartLines() {
    return {"COM port initialized and opened.", "Program Mode = 101", "Program Mode = 102",
            kPleaseWait};
}

QStringList closingLines() {
    QStringList lines;
    for (const std::string& line : testing::closingLines()) {
        lines << QString::fromStdString(line);
    }
    return lines;
}

QStringList exitLines() {
    return {"Input file closed.", "Closed COM port: 1", "Program terminated."};
}

QString ReliabilityTest::writeScript(const QString& name, const QByteArray& bytes) {
    const QString file = dir.filePath(name);
    QFile f(file);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly)) << file.toStdString();
    f.write(bytes);
    return file;
}

std::unique_ptr<Device> ReliabilityTest::device(const QString& script, const QStringList& faults) {
    auto d = std::make_unique<Device>(script, faults, path("received.bin"));
    EXPECT_TRUE(d->ok()) << "the simulated device did not start";
    return d;
}

}  // namespace reburn3::reliability
