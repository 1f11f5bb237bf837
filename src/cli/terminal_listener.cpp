// SPDX-License-Identifier: Apache-2.0
#include "cli/terminal_listener.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

#include "cli/console_view.h"
#include "cli/gang_progress.h"
#include "cli/run_report.h"
#include "run/flash_session.h"
#include "run/verdict.h"

namespace reburn3::cli {

namespace {

// One port's lines on the terminal: its console view, and the lines of the run's own.
class TerminalPortListener final : public run::PortListener {
public:
    TerminalPortListener(const ProgramState& state, const run::FlashOptions& options,
                         const run::PortTask& task, ScreenOverlay* overlay)
        : m_options(options),
          m_task(task),
          m_view(state, options.json, progressOf(options, overlay)) {
        m_view.setQuiet(options.quiet);
        m_view.setOverlay(overlay);
        if (!task.prefix.empty()) {
            m_view.setPort(task.target.text, task.prefix);
        }
    }

    const ConsoleView& view() const { return m_view; }

    void lineAppended(LogId log, const std::string& line, std::size_t dropped) override {
        m_view.lineAppended(log, line, dropped);
    }
    void textChanged(TextBoxId box) override { m_view.textChanged(box); }
    void stepStarting() override { m_view.hold(); }
    void stepOver() override { m_view.release(); }
    void ready(const RunResult& base) override {
        if (!m_options.quiet && m_task.attempt == 1) {
            std::fprintf(stderr, "%s%s\n", m_task.prefix.c_str(), headerLine(base).c_str());
            std::fflush(stderr);
        }
    }
    void notice(const std::string& text) override { m_view.printNotice(text); }
    void message(const std::string& text) override {
        // The lines posted before the message come first.
        m_view.writeHeld();
        std::fprintf(stderr, "%s\n", text.c_str());
        std::fflush(stderr);
    }
    void deviceEvent(std::string_view name, const std::string& text) override {
        if (m_options.json) {
            QJsonObject event;
            event.insert("type", "event");
            event.insert("event",
                         QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
            event.insert("text", QString::fromStdString(text));
            m_view.printJson(event);
        } else {
            m_view.printNotice(text);
        }
    }
    void runStarted() override { m_view.runStarted(); }
    void runEnded() override { m_view.runEnded(); }
    void statistics(const std::string& line) override {
        std::fprintf(stderr, "%s%s\n", m_task.prefix.c_str(), line.c_str());
    }

private:
    // The port's own progress: none when quiet, and none on a terminal where a gang
    // draws the bars of all its ports together.
    static ProgressMode progressOf(const run::FlashOptions& options, ScreenOverlay* overlay) {
        if (options.quiet || (overlay != nullptr && options.progress == ProgressMode::Bar)) {
            return ProgressMode::None;
        }
        return options.progress;
    }

    const run::FlashOptions& m_options;
    run::PortTask m_task;
    ConsoleView m_view;
};

}  // namespace

TerminalListener::TerminalListener() = default;
TerminalListener::~TerminalListener() = default;

void TerminalListener::roundStarting(const run::FlashOptions& options, std::size_t ports) {
    m_options = &options;
    m_progress.reset();
    if (ports > 1 && options.progress == ProgressMode::Bar && !options.quiet) {
        m_progress = std::make_unique<GangProgress>();
    }
}

std::unique_ptr<run::PortListener> TerminalListener::portListener(std::size_t index,
                                                                  const run::PortTask& task,
                                                                  const ProgramState& state) {
    auto listener =
        std::make_unique<TerminalPortListener>(state, *m_options, task, m_progress.get());
    if (m_progress) {
        m_progress->setRow(index, task.prefix, &state, &listener->view());
    }
    return listener;
}

void TerminalListener::everyPortStarted() {
    if (m_progress) {
        m_progress->start();
    }
}

// A failed attempt that is tried again is told in one plain line, not as a verdict.
void TerminalListener::retry(const run::RetryEvent& retry) {
    const int attempt = retry.failed + 1;
    if (m_options->json) {
        QJsonObject event;
        event.insert("type", "event");
        event.insert("event", "retry");
        event.insert("port", QString::fromStdString(retry.port));
        event.insert("attempt", attempt);
        event.insert("of", retry.of);
        event.insert("failed", QString::fromStdString(retry.reason));
        std::printf("%s\n", QJsonDocument(event).toJson(QJsonDocument::Compact).constData());
        std::fflush(stdout);
        return;
    }
    if (m_progress) {
        m_progress->hide();
    }
    std::fprintf(stderr, "%sreburn3: attempt %d failed: %s; trying again (%d of %d)\n",
                 retry.prefix.c_str(), retry.failed, retry.reason.c_str(), attempt, retry.of);
    std::fflush(stderr);
    if (m_progress) {
        m_progress->show();
    }
}

RunResult TerminalListener::tell(std::size_t /*index*/, const run::RunEnd& end, QJsonObject& told) {
    return tellEnd(end, &told);
}

void TerminalListener::roundOver() {
    if (m_progress) {
        m_progress->stop();
    }
}

}  // namespace reburn3::cli
