#include "cli/console_view.h"

#include <QJsonDocument>

#include <algorithm>

#include "app/program_state.h"

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

void ConsoleView::runStarted() {
    m_clock.start();
    m_running = true;
    m_ended = false;
    m_lastDrawMs = -1;
    m_lastPlainStep = -1;
    m_firstDone = 0;
    m_firstMs = -1;
    showProgress(true);
}

void ConsoleView::runEnded() {
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
    eraseBar();
    std::fprintf(m_err, "reburn3: %s\n", text.c_str());
    std::fflush(m_err);
    showProgress(true);
}

void ConsoleView::printJson(const QJsonObject& object) {
    eraseBar();
    const QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact);
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), m_out);
    std::fputc('\n', m_out);
    std::fflush(m_out);
    showProgress(true);
}

void ConsoleView::lineAppended(LogId log, const std::string& line, std::size_t /*dropped*/) {
    if (m_json) {
        QJsonObject object;
        object.insert("log", log == LogId::Status ? "status" : "debug");
        object.insert("text", QString::fromStdString(line));
        printJson(object);
        return;
    }
    eraseBar();
    std::FILE* stream = log == LogId::Status ? m_out : m_err;
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
    showProgress(true);
}

void ConsoleView::textChanged(TextBoxId box) {
    if (box == TextBoxId::Text4) {
        showProgress(false);
    }
}

void ConsoleView::eraseBar() {
    if (m_barShown) {
        std::fputs("\r\033[K", m_err);
        std::fflush(m_err);
        m_barShown = false;
    }
}

void ConsoleView::showProgress(bool force) {
    if (!m_running || m_progress == ProgressMode::None) {
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
    if (m_progress == ProgressMode::Plain) {
        const int step = static_cast<int>(fraction(done, total) * kPlainSteps);
        if (step == m_lastPlainStep || done == 0) {
            return;
        }
        m_lastPlainStep = step;
        std::fprintf(m_err, "%s\n", formatProgressPlain(done, total, now, left).c_str());
        std::fflush(m_err);
        return;
    }
    if (!force && m_lastDrawMs >= 0 && now - m_lastDrawMs < kRedrawMs && done < total) {
        return;
    }
    m_lastDrawMs = now;
    std::fprintf(m_err, "\r\033[K%s", formatProgressBar(done, total, now, left, kBarWidth).c_str());
    std::fflush(m_err);
    m_barShown = true;
}

}  // namespace reburn3::cli
