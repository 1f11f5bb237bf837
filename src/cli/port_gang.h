// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QJsonObject>

#include <memory>
#include <string>
#include <vector>

#include "cli/flash_session.h"
#include "engine/run_result.h"

namespace reburn3::cli {

class GangProgress;

// Who watches a gang besides its terminal (the station service): each attempt of a port
// as it starts, and each board's end once it is told (--log line written), with its JSON
// result as `--json` prints it. Told in the gang's own event loop; a session is valid
// from its start until its port's end.
class GangObserver {
public:
    virtual ~GangObserver() = default;
    virtual void portStarted(std::size_t index, const FlashSession& session) = 0;
    virtual void portEnded(std::size_t index, const RunResult& result, const QJsonObject& told) = 0;
};

// One round of downloads: a session per port, all in one event loop, each with its own
// engine, driver and state record, so that a port that fails never disturbs another.
// The script is checked by the first port before any port opens: a refused script ends
// every port without opening it. A failed handshake starts its port's run again under
// --retries: the attempts of one board, which end in one result.
class PortGang {
public:
    PortGang(FlashContext& context, const std::vector<std::string>& ports, int round);
    ~PortGang();
    PortGang(const PortGang&) = delete;
    PortGang& operator=(const PortGang&) = delete;

    // Runs every port to its end; the results in the order of the ports.
    std::vector<RunResult> run();

    // Told of every port's start and end from now on; null: no one.
    void setObserver(GangObserver* observer) { m_observer = observer; }
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
    void announceRetry(std::size_t index, int failed, const std::string& reason);
    bool logCanTakeTheRound();
    void endWithoutRun(std::size_t index, RunReason reason, const std::string& detail = {});

    FlashContext& m_context;
    std::vector<std::string> m_ports;
    int m_round;
    std::vector<std::unique_ptr<FlashSession>> m_sessions;
    std::vector<RunResult> m_results;
    std::vector<bool> m_ended;
    std::unique_ptr<GangProgress> m_progress;
    std::size_t m_left = 0;
    bool m_interrupted = false;
    GangObserver* m_observer = nullptr;
    std::vector<Tags> m_boardTags;
    class Loop;
    std::unique_ptr<Loop> m_loop;
};

// The table told on standard error at the end of several ports or a station:
// port, round, outcome, reason, records, time; one row per run.
std::string summaryTable(const std::vector<RunResult>& results);

// The end of a command of several ports or of a station, after the table: its verdict,
// the last line on standard error ("reburn3: FAILED (exit 4): 2 of 3 boards completed;
// ..."), and with --json the `summary` line, the last on standard output: the command's
// exit code, the boards by outcome and by reason, and every board's outcome.
void reportCommandEnd(const std::vector<RunResult>& results, int exitCode,
                      const FlashOptions& options);

}  // namespace reburn3::cli
