// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QElapsedTimer>
#include <QJsonObject>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "base/window_model.h"
#include "run/run_options.h"

namespace reburn3 {
struct ProgramState;
}

namespace reburn3::cli {

// The command line speaks the run's words: its options, results and exit codes.
using namespace reburn3::run;

// The progress line: "[#####.....]  120/400 records  30.0 %  0:03 elapsed  0:07 left".
// `width` is the number of cells of the bar; the time left is left out while unknown.
std::string formatProgressBar(std::int64_t done, std::int64_t total, std::int64_t elapsedMs,
                              std::optional<std::int64_t> leftMs, int width);
// The same without the bar, for logs: "Progress: 120/400 records (30.0 %), 0:03 elapsed,
// about 0:07 left".
std::string formatProgressPlain(std::int64_t done, std::int64_t total, std::int64_t elapsedMs,
                                std::optional<std::int64_t> leftMs);
// The time the records still to come will take at the pace of those done since the first
// one (the handshake before it says nothing about the pace): unknown until two records,
// 0 when all are done.
std::optional<std::int64_t> estimateLeftMs(std::int64_t done, std::int64_t total,
                                           std::int64_t firstDone, std::int64_t firstMs,
                                           std::int64_t nowMs);
// The progress line that fits `columns` terminal cells without touching the last one:
// the bar is shortened, then the time left, the time elapsed and the word "records"
// are dropped, then the bar, rather than let the line wrap.
std::string fitProgressBar(std::int64_t done, std::int64_t total, std::int64_t elapsedMs,
                           std::optional<std::int64_t> leftMs, int columns);
// "m:ss", or "h:mm:ss" from an hour on.
std::string formatDuration(std::int64_t ms);

// Something else drawn on the terminal below the lines (the rows of a gang's progress):
// taken away before a line is written and drawn again after it.
class ScreenOverlay {
public:
    virtual ~ScreenOverlay() = default;
    virtual void hide() = 0;
    virtual void show() = 0;
};

// Shows the window model on a terminal: status-log lines on stdout and debug-log lines
// on stderr, each as soon as it is posted, or every line as a JSON object on stdout; and
// the progress of a run on stderr.
class ConsoleView final : public WindowListener {
public:
    ConsoleView(const ProgramState& state, bool json, ProgressMode progress,
                std::FILE* out = stdout, std::FILE* err = stderr);
    ~ConsoleView() override;
    ConsoleView(const ConsoleView&) = delete;
    ConsoleView& operator=(const ConsoleView&) = delete;

    // While a step of the engine runs, the lines it posts and its progress wait here and
    // are written, in order, when it is over: a slow terminal or pipe never stands
    // between a device's answer and the next bytes for it.
    void hold() { m_holding = true; }
    void release();
    // Writes what is held now, and goes on holding.
    void writeHeld();

    // The run has started: progress is shown from now on, timed from now.
    void runStarted();
    // The run is over: the last progress is drawn and the bar's line ended.
    void runEnded();
    // A line of the command line's own on stderr, "reburn3: " first.
    void printNotice(const std::string& text);
    // Writes a JSON object as one line on stdout.
    void printJson(const QJsonObject& object);
    // Quiet: no log lines and no progress; the command's own notices still show.
    void setQuiet(bool quiet) { m_quiet = quiet; }
    // The width the bar must fit; by default the terminal's, asked at every redraw so
    // that a resized window is followed at once.
    void setColumns(int columns) { m_fixedColumns = columns; }
    // One port of several: every line starts with `prefix` ("[COM3] "), and every JSON
    // line carries "port": `port`.
    void setPort(const std::string& port, const std::string& prefix);
    const std::string& prefix() const { return m_prefix; }
    // The rows drawn below the lines, if any; not owned.
    void setOverlay(ScreenOverlay* overlay) { m_overlay = overlay; }
    std::int64_t elapsedMs() const { return m_running || m_ended ? m_clock.elapsed() : 0; }

    void lineAppended(LogId log, const std::string& line, std::size_t dropped) override;
    void textChanged(TextBoxId box) override;

private:
    struct HeldLine {
        LogId log;
        std::string text;
    };

    void showLine(LogId log, const std::string& line);
    void showJson(const QJsonObject& object);
    void showProgress(bool force);
    void eraseBar();
    void writeJson(const QJsonObject& object);
    void sendProgressEvent(std::int64_t done, std::int64_t total, std::int64_t now);
    int columns() const;

    const ProgramState& m_state;
    bool m_json;
    ProgressMode m_progress;
    std::FILE* m_out;
    std::FILE* m_err;
    QElapsedTimer m_clock;
    std::int64_t m_lastDrawMs = -1;
    std::int64_t m_firstDone = 0;  // records done when the first was seen done
    std::int64_t m_firstMs = -1;   // and when
    int m_lastPlainStep = -1;
    bool m_running = false;
    bool m_ended = false;
    bool m_barShown = false;
    bool m_quiet = false;
    int m_fixedColumns = 0;
    std::string m_port;
    std::string m_prefix;
    ScreenOverlay* m_overlay = nullptr;
    std::int64_t m_lastEventMs = -1;
    std::int64_t m_lastEventDone = -1;
    bool m_holding = false;
    bool m_progressHeld = false;
    std::vector<HeldLine> m_held;
};

}  // namespace reburn3::cli
