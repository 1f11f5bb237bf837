// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QJsonObject>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/run_result.h"
#include "run/json_result.h"
#include "run/run_context.h"
#include "serial/port_target.h"

namespace reburn3 {
class ScriptFile;
struct ProgramState;
}  // namespace reburn3

namespace reburn3::run {

class RunListener;

// What one port's session is told besides the command's options.
struct PortTask {
    // The port as given and read; the session resolves it at each attempt.
    PortTarget target;
    std::string prefix;  // before every line: "" for a single port, "[COM3] " in a gang
    int attempt = 1;     // --retries: which start of the run this is
    // --retries: the reason of each earlier attempt, which failed.
    std::vector<std::string> attemptReasons;
    // --retries: a run that may start again is not reported when it fails so; its
    // gang either starts it again or reports it (FlashSession::report).
    bool mayStartAgain = false;
    int round = 0;          // --station: the round; 0 outside a station
    std::size_t index = 0;  // the port's place in its gang
    // This board's tags instead of --tag's (a station service's round); none: --tag's.
    std::optional<Tags> tags;
};

// One port's download through the program's own procedures: its own Form1 (engine,
// state record, driver, logs) and tick timer, so that it sees exactly the ticks, texts
// and bytes a run of its own would, however many run beside it. It runs in whatever
// event loop turns. What it posts and does goes to the listener `listener` makes for it;
// its end is told once to `listener` (RunListener::tell) and through `finished`.
class FlashSession {
public:
    using Finished = std::function<void(const RunResult&)>;

    FlashSession(FlashContext& context, PortTask task, RunListener& listener, Finished finished);
    ~FlashSession();
    FlashSession(const FlashSession&) = delete;
    FlashSession& operator=(const FlashSession&) = delete;

    // Starts the program up and checks the script. False when the session has ended
    // there (the script refused or unreadable, a signal during the check).
    bool prepare();
    // Opens the port, after waiting for it with --wait-for-port, and starts the run.
    void begin();
    // Ends a session that never opened its port: another port's check refused the
    // script, or a signal came first.
    void endUnstarted(RunReason reason);
    // Ctrl-C, SIGTERM or SIGHUP: aborts the run as "Abort Process" would.
    void interrupt();

    bool finished() const;
    // True once its end is told: the verdict, the --log line and the JSON result.
    bool reported() const;
    // Tells the end of a session that held it back for a retry that is not coming.
    void report();
    // How it ended, once finished().
    const RunResult& result() const;
    // Its JSON result as told (the object `--json` prints), once reported().
    const QJsonObject& told() const;
    const PortTask& task() const;
    const ProgramState& state() const;

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};

// True when a failed run may start again under --retries: it failed at the device
// (handshake or answer) before any script byte after the handshake went out.
bool mayRetry(const RunResult& result);

}  // namespace reburn3::run
