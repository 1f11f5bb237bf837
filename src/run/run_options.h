// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "run/handshake_limit.h"
#include "run/json_result.h"

namespace reburn3::run {

// How a run's progress is shown: not at all, a plain line at every tenth, or a bar.
enum class ProgressMode { None, Plain, Bar };

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

}  // namespace reburn3::run
