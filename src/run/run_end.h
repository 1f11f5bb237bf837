// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QJsonObject>

#include <cstddef>
#include <string>

#include "engine/run_result.h"
#include "run/output_files.h"
#include "run/run_listener.h"
#include "run/run_options.h"

namespace reburn3::run {

// Records a board's end before it is told: a --trace that lost bytes, then the line of
// `log` when it is open. A record that could not be written fails the command (exit 5,
// "log-failed"), and `logFailure` of the end names each.
RunEnd recordEnd(const RunResult& result, const FlashOptions& options, AppendLog* log,
                 const TraceFile* trace, const QJsonObject& extra, const std::string& prefix);

// Adds `failure` to the words of what was lost of a download's records.
void addFailure(std::string& failures, const std::string& failure);

// The JSON result of a board (the object `--json` prints), `extra` added; with a lost
// record the loss is its detail and the download's own moves to `runDetail`.
QJsonObject resultObject(const RunResult& result, const std::string& logFailure, const Tags& tags,
                         const QJsonObject& extra);

// The room a log line of a download of `base` can take at most: the line as it is before
// the run, with room for what the run adds (counts, times, the reason's words).
std::size_t worstLogLine(const RunResult& base, const FlashOptions& options);

}  // namespace reburn3::run
