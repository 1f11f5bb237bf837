// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QObject>
#include <QTimer>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/console_view.h"

namespace reburn3 {
struct ProgramState;
}

namespace reburn3::cli {

// The progress of several ports on a terminal: one row per port below the lines,
// "[COM3] [#####.....]  120/400 records  30.0 %", each fitted to the terminal's width,
// redrawn ten times a second. A line written by any port takes the rows away first and
// they are drawn again after it, so no copy of them is left in the scroll-back.
class GangProgress final : public ScreenOverlay {
public:
    explicit GangProgress(std::FILE* err = stderr);
    ~GangProgress() override;
    GangProgress(const GangProgress&) = delete;
    GangProgress& operator=(const GangProgress&) = delete;

    // Row `row` shows `state` under `label` from now on, timed by `view`.
    void setRow(std::size_t row, const std::string& label, const ProgramState* state,
                const ConsoleView* view);
    void start();
    // Draws the rows a last time and leaves them on the screen.
    void stop();

    void hide() override;
    void show() override;

    // One row as drawn for a terminal `columns` wide.
    static std::string formatRow(const std::string& label, std::int64_t done, std::int64_t total,
                                 std::int64_t elapsedMs, int columns);

private:
    struct Row {
        std::string label;
        const ProgramState* state = nullptr;
        const ConsoleView* view = nullptr;
    };
    int columns() const;

    std::FILE* m_err;
    std::vector<Row> m_rows;
    QTimer m_redraw;
    std::size_t m_drawn = 0;  // rows on the screen now
    bool m_running = false;
};

}  // namespace reburn3::cli
