// SPDX-License-Identifier: Apache-2.0
#include "cli/gang_progress.h"

#include <unistd.h>

#include <algorithm>

#include "base/program_state.h"
#include "cli/standard_output.h"

namespace reburn3::cli {

namespace {
constexpr int kRedrawMs = 100;
}

GangProgress::GangProgress(std::FILE* err) : m_err(err) {
    m_redraw.setInterval(kRedrawMs);
    QObject::connect(&m_redraw, &QTimer::timeout, [this] {
        hide();
        show();
    });
}

GangProgress::~GangProgress() = default;

void GangProgress::setRow(std::size_t row, const std::string& label, const ProgramState* state,
                          const ConsoleView* view) {
    if (m_rows.size() <= row) {
        m_rows.resize(row + 1);
    }
    m_rows[row] = Row{label, state, view};
}

void GangProgress::start() {
    m_running = true;
    m_redraw.start();
    show();
}

void GangProgress::stop() {
    if (!m_running) {
        return;
    }
    hide();
    show();
    m_redraw.stop();
    m_running = false;
    if (m_drawn > 0) {
        std::fputc('\n', m_err);
        std::fflush(m_err);
        m_drawn = 0;
    }
}

std::string GangProgress::formatRow(const std::string& label, std::int64_t done, std::int64_t total,
                                    std::int64_t elapsedMs, int columns) {
    const int room = columns - static_cast<int>(label.size());
    if (room < 8) {
        return label.substr(0, static_cast<std::size_t>(std::max(columns - 1, 0)));
    }
    return label + fitProgressBar(done, total, elapsedMs, std::nullopt, room);
}

int GangProgress::columns() const {
    if (const int width = terminalColumns(m_err); width > 0) {
        return width;
    }
    return 80;
}

// The cursor stays at the end of the last row; the rows are taken away from there.
void GangProgress::hide() {
    if (m_drawn == 0) {
        return;
    }
    if (m_drawn > 1) {
        std::fprintf(m_err, "\r\033[%zuA\033[J", m_drawn - 1);
    } else {
        std::fputs("\r\033[J", m_err);
    }
    std::fflush(m_err);
    m_drawn = 0;
}

void GangProgress::show() {
    if (!m_running || m_drawn > 0 || m_rows.empty()) {
        return;
    }
    const int width = columns();
    std::string out;
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        const Row& row = m_rows[i];
        const std::int64_t done = row.state != nullptr ? row.state->RecordsDone : 0;
        const std::int64_t total = row.state != nullptr ? row.state->RecordsTotal : 0;
        const std::int64_t elapsed = row.view != nullptr ? row.view->elapsedMs() : 0;
        if (i > 0) {
            out += '\n';
        }
        out += "\r\033[K" + formatRow(row.label, done, total, elapsed, width);
    }
    std::fputs(out.c_str(), m_err);
    std::fflush(m_err);
    m_drawn = m_rows.size();
}

}  // namespace reburn3::cli
