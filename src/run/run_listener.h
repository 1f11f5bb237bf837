// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QJsonObject>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "base/window_model.h"
#include "engine/run_result.h"
#include "run/run_options.h"

namespace reburn3 {
struct ProgramState;
}

namespace reburn3::run {

class FlashSession;
struct PortTask;

// A board's end as the run has recorded it (its trace checked, its --log line written),
// for the face to tell.
struct RunEnd {
    RunResult result;        // its exit code already that of a lost record
    std::string logFailure;  // what of its records was lost, in words; empty: nothing
    FlashOptions options;    // the command's, with the board's own tags
    QJsonObject extra;       // what its JSON result adds: stats, reactive
    std::string prefix;      // before its lines: "" for a single port, "[COM3] " in a gang
};

// A failed attempt that its port starts again (--retries).
struct RetryEvent {
    std::size_t index = 0;  // the port's place in the gang
    std::string port;       // as given
    std::string prefix;     // before its lines
    int failed = 1;         // the attempt that failed
    int of = 1;             // the attempts the port has in all
    std::string reason;     // the failed attempt's reason word
};

// What one port's session tells as it goes, one call per event. The log lines and the
// progress come as the window model posts them (WindowListener: a line appended to the
// status or debug log, a text box such as the record counts changed).
class PortListener : public WindowListener {
public:
    // A step of the engine (a tick, a reactive step) begins and ends: what it posts in
    // between may be held and told once it is over, so that a slow reader never stands
    // between a device's answer and the next bytes for it.
    virtual void stepStarting() = 0;
    virtual void stepOver() = 0;
    // The session is ready to open its port: its version, device, script and SHA-256.
    virtual void ready(const RunResult& base) = 0;
    // A word of the run's own: "waiting for /dev/ttyUSB0 ...".
    virtual void notice(const std::string& text) = 0;
    // A message box of the program's procedures.
    virtual void message(const std::string& text) = 0;
    // Something the device did: "device-lost", "handshake-limit", with its words.
    virtual void deviceEvent(std::string_view name, const std::string& text) = 0;
    // The download starts (progress is timed from now) and is over.
    virtual void runStarted() = 0;
    virtual void runEnded() = 0;
    // --stats: the run's measurements in one line.
    virtual void statistics(const std::string& line) = 0;
};

// What a gang tells a face of a round: each port's listener, its start, a retry, the end
// of each board. Told in the gang's own event loop.
class RunListener {
public:
    virtual ~RunListener() = default;

    // A round of `ports` ports starts with these options.
    virtual void roundStarting(const FlashOptions& options, std::size_t ports) = 0;
    // The listener of one attempt of port `index`; `state` is its session's state record.
    virtual std::unique_ptr<PortListener> portListener(std::size_t index, const PortTask& task,
                                                       const ProgramState& state) = 0;
    // An attempt of port `index` starts; `session` is valid until that port's end.
    virtual void portStarted(std::size_t /*index*/, const FlashSession& /*session*/) {}
    // Every port of the round has been started.
    virtual void everyPortStarted() {}
    virtual void retry(const RetryEvent& retry) = 0;
    // A board's end, told once (the verdict, the JSON result): the result as told, which
    // a record lost in the telling fails, and in `told` its JSON result object.
    virtual RunResult tell(std::size_t index, const RunEnd& end, QJsonObject& told) = 0;
    // A board's end, once told.
    virtual void portEnded(std::size_t /*index*/, const RunResult& /*result*/,
                           const QJsonObject& /*told*/) {}
    // Every port has ended.
    virtual void roundOver() {}
};

}  // namespace reburn3::run
