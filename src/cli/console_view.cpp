// SPDX-License-Identifier: Apache-2.0
#include "cli/console_view.h"

#include <unistd.h>

#include <QJsonDocument>

#include <algorithm>

#include "base/program_state.h"
#include "cli/standard_output.h"

namespace reburn3::cli {

namespace {

constexpr int kBarWidth = 30;
constexpr std::int64_t kRedrawMs = 100;  // at most ten redraws a second
constexpr int kPlainSteps = 10;          // a plain progress line every tenth

double fraction(std::int64_t done, std::int64_t total) {
    if (total <= 0) {
        return 0.0;
    }
    return std::clamp(static_cast<double>(done) / static_cast<double>(total), 0.0, 1.0);
}

std::string percentText(double f) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%.1f %%", f * 100.0);
    return buf;
}

// Control characters as <XX>, as record texts show them; everything else as it is.
std::string escapeControls(const std::string& line) {
    std::string out;
    out.reserve(line.size());
    for (const char c : line) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "<%02X>", u);
            out += buf;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

}  // namespace

std::string formatDuration(std::int64_t ms) {
    const std::int64_t seconds = std::max<std::int64_t>(ms, 0) / 1000;
    char buf[32];
    if (seconds >= 3600) {
        std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                      static_cast<long long>(seconds / 60 % 60),
                      static_cast<long long>(seconds % 60));
    } else {
        std::snprintf(buf, sizeof buf, "%lld:%02lld", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
    }
    return buf;
}

std::optional<std::int64_t> estimateLeftMs(std::int64_t done, std::int64_t total,
                                           std::int64_t firstDone, std::int64_t firstMs,
                                           std::int64_t nowMs) {
    if (total > 0 && done >= total) {
        return 0;
    }
    if (firstMs < 0 || done <= firstDone || nowMs <= firstMs) {
        return std::nullopt;
    }
    return (nowMs - firstMs) * (total - done) / (done - firstDone);
}

std::string formatProgressBar(std::int64_t done, std::int64_t total, std::int64_t elapsedMs,
                              std::optional<std::int64_t> leftMs, int width) {
    const double f = fraction(done, total);
    const int filled = static_cast<int>(f * width);
    std::string out = "[";
    out.append(static_cast<std::size_t>(filled), '#');
    out.append(static_cast<std::size_t>(width - filled), '.');
    out += "]  " + std::to_string(done) + "/" + std::to_string(total) + " records  " +
           percentText(f) + "  " + formatDuration(elapsedMs) + " elapsed";
    if (leftMs) {
        out += "  " + formatDuration(*leftMs) + " left";
    }
    return out;
}

std::string fitProgressBar(std::int64_t done, std::int64_t total, std::int64_t elapsedMs,
                           std::optional<std::int64_t> leftMs, int columns) {
    const auto room = static_cast<std::size_t>(std::max(columns - 1, 1));
    const double f = fraction(done, total);
    const std::string counts = std::to_string(done) + "/" + std::to_string(total);
    const std::string elapsed = "  " + formatDuration(elapsedMs) + " elapsed";
    const std::string left = leftMs ? "  " + formatDuration(*leftMs) + " left" : std::string();
    // The fields after the bar, fullest first.
    const std::string tails[] = {
        "  " + counts + " records  " + percentText(f) + elapsed + left,
        "  " + counts + " records  " + percentText(f) + elapsed,
        "  " + counts + " records  " + percentText(f),
        "  " + counts + "  " + percentText(f),
    };
    constexpr std::size_t kLeastBar = 10;  // "[" + 8 cells + "]"
    for (const std::string& tail : tails) {
        if (tail.size() + kLeastBar <= room) {
            const std::size_t cells = std::min<std::size_t>(kBarWidth, room - tail.size() - 2);
            const auto filled = static_cast<std::size_t>(f * static_cast<double>(cells));
            return "[" + std::string(filled, '#') + std::string(cells - filled, '.') + "]" + tail;
        }
    }
    std::string bare = counts + "  " + percentText(f);
    if (bare.size() > room) {
        bare = percentText(f);
    }
    return bare.substr(0, room);
}

std::string formatProgressPlain(std::int64_t done, std::int64_t total, std::int64_t elapsedMs,
                                std::optional<std::int64_t> leftMs) {
    std::string out = "Progress: " + std::to_string(done) + "/" + std::to_string(total) +
                      " records (" + percentText(fraction(done, total)) + "), " +
                      formatDuration(elapsedMs) + " elapsed";
    if (leftMs) {
        out += ", about " + formatDuration(*leftMs) + " left";
    }
    return out;
}

ConsoleView::ConsoleView(const ProgramState& state, bool json, ProgressMode progress,
                         std::FILE* out, std::FILE* err)
    : m_state(state), m_json(json), m_progress(progress), m_out(out), m_err(err) {}

ConsoleView::~ConsoleView() {
    writeHeld();
}

void ConsoleView::release() {
    m_holding = false;
    writeHeld();
}

// Lines held during a step, before anything else is written.
void ConsoleView::writeHeld() {
    if (m_held.empty() && !m_progressHeld) {
        return;
    }
    const bool holding = m_holding;
    m_holding = false;
    for (const HeldLine& held : m_held) {
        showLine(held.log, held.text);
    }
    m_held.clear();
    if (m_progressHeld) {
        m_progressHeld = false;
        showProgress(false);
    }
    m_holding = holding;
}

void ConsoleView::setPort(const std::string& port, const std::string& prefix) {
    m_port = port;
    m_prefix = prefix;
}

void ConsoleView::runStarted() {
    m_clock.start();
    m_running = true;
    m_ended = false;
    m_lastDrawMs = -1;
    m_lastPlainStep = -1;
    m_firstDone = 0;
    m_firstMs = -1;
    m_lastEventMs = -1;
    m_lastEventDone = -1;
    showProgress(true);
}

void ConsoleView::runEnded() {
    release();
    if (!m_running) {
        return;
    }
    showProgress(true);
    m_running = false;
    m_ended = true;
    if (m_barShown) {
        std::fputc('\n', m_err);
        std::fflush(m_err);
        m_barShown = false;
    }
}

void ConsoleView::printNotice(const std::string& text) {
    writeHeld();
    eraseBar();
    std::fprintf(m_err, "%sreburn3: %s\n", m_prefix.c_str(), escapeControls(text).c_str());
    std::fflush(m_err);
    showProgress(true);
    if (m_overlay != nullptr) {
        m_overlay->show();
    }
}

void ConsoleView::printJson(const QJsonObject& object) {
    writeHeld();
    showJson(object);
}

void ConsoleView::showJson(const QJsonObject& object) {
    eraseBar();
    writeJson(object);
    showProgress(true);
    if (m_overlay != nullptr) {
        m_overlay->show();
    }
}

void ConsoleView::writeJson(const QJsonObject& object) {
    QJsonObject tagged = object;
    if (!m_port.empty()) {
        tagged.insert("port", QString::fromStdString(m_port));
    }
    const QByteArray line = QJsonDocument(tagged).toJson(QJsonDocument::Compact);
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), m_out);
    std::fputc('\n', m_out);
    std::fflush(m_out);
}

// At most about ten a second, and only when the count has moved; the last one always.
void ConsoleView::sendProgressEvent(std::int64_t done, std::int64_t total, std::int64_t now) {
    if (done == m_lastEventDone ||
        (m_lastEventMs >= 0 && now - m_lastEventMs < kRedrawMs && done < total)) {
        return;
    }
    m_lastEventDone = done;
    m_lastEventMs = now;
    QJsonObject event;
    event.insert("type", "progress");
    event.insert("done", static_cast<qint64>(done));
    event.insert("total", static_cast<qint64>(total));
    eraseBar();
    writeJson(event);
}

int ConsoleView::columns() const {
    if (m_fixedColumns > 0) {
        return m_fixedColumns;
    }
    if (const int width = terminalColumns(m_err); width > 0) {
        return width;
    }
    return 80;
}

void ConsoleView::lineAppended(LogId log, const std::string& line, std::size_t /*dropped*/) {
    if (m_quiet) {
        return;
    }
    if (m_holding) {
        m_held.push_back({log, line});
        return;
    }
    showLine(log, line);
}

void ConsoleView::showLine(LogId log, const std::string& line) {
    if (m_json) {
        QJsonObject object;
        object.insert("type", "log");
        object.insert("log", log == LogId::Status ? "status" : "debug");
        object.insert("text", QString::fromStdString(line));
        showJson(object);
        return;
    }
    eraseBar();
    std::FILE* stream = log == LogId::Status ? m_out : m_err;
    // A file name in a line may hold anything; no control character reaches the terminal.
    const std::string shown = m_prefix + escapeControls(line);
    std::fwrite(shown.data(), 1, shown.size(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
    showProgress(true);
    if (m_overlay != nullptr) {
        m_overlay->show();
    }
}

void ConsoleView::textChanged(TextBoxId box) {
    if (box != TextBoxId::Text4) {
        return;
    }
    if (m_holding) {
        m_progressHeld = true;
        return;
    }
    showProgress(false);
}

void ConsoleView::eraseBar() {
    if (m_overlay != nullptr) {
        m_overlay->hide();
    }
    if (m_barShown) {
        std::fputs("\r\033[K", m_err);
        std::fflush(m_err);
        m_barShown = false;
    }
}

void ConsoleView::showProgress(bool force) {
    if (!m_running || m_quiet || (m_progress == ProgressMode::None && !m_json)) {
        return;
    }
    const std::int64_t done = m_state.RecordsDone;
    const std::int64_t total = m_state.RecordsTotal;
    const std::int64_t now = m_clock.elapsed();
    if (m_firstMs < 0 && done > 0) {
        m_firstDone = done;
        m_firstMs = now;
    }
    const std::optional<std::int64_t> left =
        estimateLeftMs(done, total, m_firstDone, m_firstMs, now);
    if (m_json) {
        sendProgressEvent(done, total, now);
    }
    if (m_progress == ProgressMode::None) {
        return;
    }
    if (m_progress == ProgressMode::Plain) {
        const int step = static_cast<int>(fraction(done, total) * kPlainSteps);
        if (step == m_lastPlainStep || done == 0) {
            return;
        }
        m_lastPlainStep = step;
        std::fprintf(m_err, "%s%s\n", m_prefix.c_str(),
                     formatProgressPlain(done, total, now, left).c_str());
        std::fflush(m_err);
        return;
    }
    if (!force && m_lastDrawMs >= 0 && now - m_lastDrawMs < kRedrawMs && done < total) {
        return;
    }
    m_lastDrawMs = now;
    std::fprintf(m_err, "\r\033[K%s", fitProgressBar(done, total, now, left, columns()).c_str());
    std::fflush(m_err);
    m_barShown = true;
}

}  // namespace reburn3::cli
