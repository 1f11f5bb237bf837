// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>

#include "run/run_listener.h"

namespace reburn3::cli {

// The command line speaks the run's words: its options, results and exit codes.
using namespace reburn3::run;

class GangProgress;

// The run on a terminal: each port's lines and progress through its ConsoleView, the
// rows of a gang's progress bars, a retry's line, and each board's verdict and JSON
// result. `flash` and `serve` both tell their boards through it.
class TerminalListener final : public run::RunListener {
public:
    TerminalListener();
    ~TerminalListener() override;
    TerminalListener(const TerminalListener&) = delete;
    TerminalListener& operator=(const TerminalListener&) = delete;

    void roundStarting(const run::FlashOptions& options, std::size_t ports) override;
    std::unique_ptr<run::PortListener> portListener(std::size_t index, const run::PortTask& task,
                                                    const ProgramState& state) override;
    void everyPortStarted() override;
    void retry(const run::RetryEvent& retry) override;
    RunResult tell(std::size_t index, const run::RunEnd& end, QJsonObject& told) override;
    void roundOver() override;

private:
    const run::FlashOptions* m_options = nullptr;
    std::unique_ptr<GangProgress> m_progress;
};

}  // namespace reburn3::cli
