// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/option_table.h"

#include "cli/console_view.h"
#include "cli/handshake_limit.h"
#include "cli/json_result.h"

namespace reburn3::cli {

struct FlashContext;
class ScriptSnapshot;

// --station: how a station waits for the next board(s) between rounds.
enum class StationMode {
    Off,     // one round
    Enter,   // for Enter on the terminal; q, end of input or Ctrl-C ends the station
    Replug,  // for every port to go away and come back
};

// --retry-quiet's default: a device that answers a handshake up to about 2.3 s late (the
// failed attempt's own 270 ms plus this) has its stale answer dropped before the next.
inline constexpr double kDefaultRetryQuietSeconds = 2.0;

struct FlashOptions {
    std::string port;                // "COM1".."COM8" or a device path: the first --port
    std::vector<std::string> ports;  // every --port, in order; empty: `port` alone
    std::string script;              // the pf3 file
    bool json = false;
    ProgressMode progress = ProgressMode::None;
    std::string tracePath;     // empty: no trace
    int repeat = 1;            // downloads in a row; the first failure ends the series
    bool stats = false;        // measure the run: tick periods, time against the bound, CPU
    bool reactive = false;     // steps between ticks as soon as the device's bytes arrive
    bool quiet = false;        // only the last line and errors
    std::string logPath;       // --log: one JSON line appended per download; empty: none
    Tags tags;                 // --tag KEY=VALUE, into the log line and the JSON result
    std::string expectSha256;  // --expect-sha256: lower-case hex; empty: any script
    // The line rate --stats measures against (the port's line at 10 bits a byte); 0: an
    // infinitely fast line, the tick bound alone.
    std::uint32_t lineBaud = 0;
    // The longest the handshake may go on (a device that never goes quiet); 0: no limit.
    double handshakeLimitSeconds = HandshakeLimit::kDefaultSeconds;
    int retries = 0;  // --retries: starts again after a failed handshake
    // --retry-quiet: how long the line must stay quiet before a new attempt's handshake.
    double retryQuietSeconds = kDefaultRetryQuietSeconds;
    // --require-ack: a run the device did not answer for to its last byte fails.
    bool requireAck = false;
    double waitForPortSeconds = 0.0;  // --wait-for-port: 0, open at once
    StationMode station = StationMode::Off;
    // The station's name on every --log line; empty: the host name (a station service
    // names itself with --station).
    std::string stationName;
};

// The end of a command that stopped before any download could start (a usage error
// after --json, an unwritable log): the last line, and the JSON result with `json`.
void reportNotStarted(RunReason reason, const std::string& detail, const FlashOptions& options);

// What a command ended with before its first port: the reason and its words.
struct SharedProblem {
    RunReason reason = RunReason::None;
    std::string detail;
};

// The result every download of the command starts from: version, port, device, script.
RunResult baseResult(const FlashOptions& options);

// Opens, before any port, what every download of a command shares: the --log and --trace
// files, the script (once: every check and every run reads this open file) and the copy
// its first check writes, which every run plays. Nothing when all is ready, else why not.
std::optional<SharedProblem> openShared(FlashContext& context, ScriptSnapshot& snapshot);

// `reburn3 flash`: one download per port through the program's own procedures, each
// driven by its 5 ms tick timer in one event loop; `repeat` of them in a row, or, at a
// station, round after round. Returns the exit code: of the run that failed, and of
// several ports the gravest (see gangExitCode).
int runFlash(const FlashOptions& options);

// `reburn3 flash`'s options: the one table its parse, help and completion read.
std::span<const OptionSpec> flashOptionTable();

// The help of `reburn3 flash`, its exit codes last.
std::string flashHelp();

// `reburn3 flash ...` (argv[2] on are its words): reads them into FlashOptions and runs
// runFlash(); a usage error is one line (and the JSON result with --json), exit 2.
int flashCommand(int argc, char** argv);

}  // namespace reburn3::cli
