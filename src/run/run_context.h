// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "engine/run_result.h"
#include "run/output_files.h"
#include "run/run_options.h"

namespace reburn3 {
class ScriptFile;
}

namespace reburn3::run {

class ScriptSnapshot;
class SignalWatcher;
class TickClock;

// What every download of a command shares: the options, the names and the version, the
// files it writes besides its output, the signals and the script, opened once.
struct FlashContext {
    const FlashOptions& options;
    RunResult base;  // version and script; the port's names are added by each session
    AppendLog log;
    TraceFile trace;  // one port only
    SignalWatcher& watcher;
    std::shared_ptr<ScriptFile> script;
    TickClock* clock = nullptr;  // the one tick source of every port; none: each its own
    // The command's copy of the script while it is still to be taken: the next check
    // writes it, and from then on `script` is that copy and this is null.
    ScriptSnapshot* snapshot = nullptr;
};

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

// The time now in UTC as the results carry it: "2026-12-08T12:00:00.000Z".
std::string nowUtc();

}  // namespace reburn3::run
