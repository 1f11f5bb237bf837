#pragma once

#include <cstdint>
#include <string>

#include "cli/console_view.h"
#include "cli/handshake_limit.h"
#include "cli/json_result.h"

namespace reburn3::cli {

struct FlashOptions {
    std::string port;    // "COM1".."COM8" or a device path
    std::string script;  // the pf3 file
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
};

// The end of a command that stopped before any download could start (a usage error
// after --json, an unwritable log): the last line, and the JSON result with `json`.
void reportNotStarted(RunReason reason, const std::string& detail, const FlashOptions& options);

// `reburn3 flash`: one download through the program's own procedures, driven by the
// 5 ms tick timer in the event loop of the running QCoreApplication, or `repeat` of them
// in a row, each a whole session of its own. Returns the exit code (of the run that
// failed, if one did).
int runFlash(const FlashOptions& options);

}  // namespace reburn3::cli
