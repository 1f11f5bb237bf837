// SPDX-License-Identifier: Apache-2.0
// Shared pieces of the reliability tests: the `reburn3` binary run as a separate process
// against the simulated ORX-716 (`reburn3 simulate`) on a real pseudo-terminal, scripts
// built record by record, and the output reduced to lines that can be compared whole.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

// Test failures show texts as text.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace reburn3::reliability {

inline constexpr int kProcessLimitMs = 25000;  // only a broken build ever comes near it

// What a finished `reburn3` process left behind.
struct Outcome {
    bool finished = false;
    int exitCode = -1;
    QString out;  // status lines (and JSON Lines)
    QString err;  // debug lines and the command's own notices, without the two below
    // The first line of a download on standard error (version, device, script and its
    // SHA-256) and its last (the verdict); empty when there was none.
    QString header;
    QString verdict;

    // The output with every time of day written as "hh:mm:ss" and each run of the
    // handshake's "please wait" lines folded into one; `pleaseWait` counts them.
    QStringList outLines() const;
    QStringList errLines() const;
    int pleaseWait() const;
};

QString binary();

// Runs `reburn3 args...` to its end.
Outcome runReburn3(const QStringList& args,
                   const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment());

// Starts `reburn3 args...` and leaves it running.
void startReburn3(QProcess& process, const QStringList& args);

// Waits until the process has written `text` on standard output (collected into
// `seen`); false when it ended or the limit passed first.
bool waitForOutput(QProcess& process, const QString& text, QString& seen,
                   int limitMs = kProcessLimitMs);

// Waits for the end of a started process and collects what it wrote.
Outcome collect(QProcess& process, const QString& seenBefore = {});

// Ctrl-C to a running `reburn3 flash`, then what it wrote. Checks what every
// interrupted run must show: exit 130, the closing lines and the exit lines last, and
// no completion.
Outcome interruptRun(QProcess& process, const QString& seenBefore);

// The simulated device: `reburn3 simulate SCRIPT --record FILE [faults]`.
class Device {
public:
    Device(const QString& script, const QStringList& faults, const QString& recordPath,
           int lifetimeSeconds = 25);
    ~Device();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    bool ok() const { return !m_port.isEmpty(); }
    const QString& port() const { return m_port; }
    // Stops the device (if it has not ended by itself) and returns every byte it
    // received.
    QByteArray received();
    // Its standard error, once stopped.
    QString errors();
    // Waits until the device ends by itself (a device that is not staying ends once it
    // has played its script); false when the limit passed first.
    bool waitForEnd(int limitMs = kProcessLimitMs);

private:
    void stop();

    QProcess m_process;
    QString m_record;
    QString m_port;
};

// A script from records written as "T5A", "R91", "E".
QByteArray scriptOf(const std::vector<std::string>& records);
// The handshake E1 94 followed by every T byte of `script`, in order: what a device
// must receive from a whole download of it.
QByteArray downloadOf(const QByteArray& script);
// A script of `lines` lines, each `perLine` T bytes and one R byte, drawn from `seed`.
QByteArray linesScript(int lines, int perLine, unsigned seed);

// The status lines every run posts after the port has been opened and the run started.
QStringList runStartLines();
// The six lines of a run's end.
QStringList closingLines();
// The last three status lines of a session whose port was open to the end.
QStringList exitLines();

// A temporary folder for one test, with the helpers most tests need.
class ReliabilityTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    QString path(const QString& name) const { return dir.filePath(name); }
    QString writeScript(const QString& name, const QByteArray& bytes);
    std::unique_ptr<Device> device(const QString& script, const QStringList& faults = {});

    QTemporaryDir dir;
};

}  // namespace reburn3::reliability
