// SPDX-License-Identifier: Apache-2.0
// What the end-to-end tests share: running `reburn3`, the simulated device, and scripts.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "json/json_lines_check.h"

namespace e2e {

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
inline bool waitForOutput(QProcess& p, const QString& text, QString& seen) {
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

inline Outcome collect(QProcess& p, const QString& seenBefore = {}) {
    Outcome o;
    o.finished = p.waitForFinished(kProcessLimitMs);
    if (!o.finished) {
        p.kill();
        p.waitForFinished(2000);
    }
    o.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    o.out = seenBefore + QString::fromUtf8(p.readAllStandardOutput());
    o.err = QString::fromUtf8(p.readAllStandardError());
    reburn3::json_check::noteJsonLines(o.out);
    return o;
}

inline Outcome runReburn3(const QStringList& args, const QProcessEnvironment& env =
                                                       QProcessEnvironment::systemEnvironment()) {
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
inline QByteArray scriptOf(const std::vector<std::string>& records) {
    QByteArray bytes;
    for (const std::string& r : records) {
        bytes += r == "E" ? QByteArray("E\r\n:") : QByteArray::fromStdString(r + ":");
    }
    return bytes;
}

// The T bytes of a script, in order.
inline QByteArray sentBytesOf(const std::vector<std::string>& records) {
    QByteArray bytes;
    for (const std::string& r : records) {
        if (r[0] == 'T') {
            bytes += static_cast<char>(std::stoi(r.substr(1), nullptr, 16));
        }
    }
    return bytes;
}

inline const std::vector<std::string> kTiny{"T5A", "T01", "R91", "E", "T02", "R26", "E"};

// A script of `count` lines, each one byte out and one byte back.
inline std::vector<std::string> manyLines(int count) {
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
}  // namespace e2e
