// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/run_result.h"
#include "run/flash_session.h"

namespace reburn3::run {

class RunListener;

// One round of downloads: a session per port, all in one event loop, each with its own
// engine, driver and state record, so that a port that fails never disturbs another.
// The script is checked by the first port before any port opens: a refused script ends
// every port without opening it. A failed handshake starts its port's run again under
// --retries: the attempts of one board, which end in one result. Everything the round
// does is told to its listener (the terminal, the station service).
class PortGang {
public:
    PortGang(FlashContext& context, const std::vector<std::string>& ports, int round,
             RunListener& listener);
    ~PortGang();
    PortGang(const PortGang&) = delete;
    PortGang& operator=(const PortGang&) = delete;

    // Runs every port to its end; the results in the order of the ports.
    std::vector<RunResult> run();

    // The tags of each board (by port index) instead of --tag's; empty: --tag's for all.
    void setBoardTags(std::vector<Tags> tags) { m_boardTags = std::move(tags); }
    // Ends the round as "Abort Process" ends a run: every running port is aborted, every
    // port not yet started ends unstarted. Each is told as interrupted.
    void abort();

    // The line prefix of a port in a gang: "[COM3] ".
    static std::string prefixOf(const std::string& port);

private:
    void startNextPort(std::size_t index);
    void startPort(std::size_t index, int attempt, std::vector<std::string> reasons = {});
    void portEnded(std::size_t index, const RunResult& result);
    bool logCanTakeTheRound();
    void endWithoutRun(std::size_t index, RunReason reason, const std::string& detail = {});

    FlashContext& m_context;
    std::vector<std::string> m_ports;
    int m_round;
    std::vector<std::unique_ptr<FlashSession>> m_sessions;
    std::vector<RunResult> m_results;
    std::vector<bool> m_ended;
    std::size_t m_left = 0;
    bool m_interrupted = false;
    RunListener& m_listener;
    std::vector<Tags> m_boardTags;
    class Loop;
    std::unique_ptr<Loop> m_loop;
};

}  // namespace reburn3::run
