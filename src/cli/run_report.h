// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QJsonObject>

#include "cli/flash_command.h"
#include "cli/output_files.h"
#include "engine/run_result.h"

namespace reburn3::cli {

// The end of a download, told once from its result: the line of `log` when it is open,
// then the verdict as the last line on standard error (a usage error has had its own
// line) and the JSON result with --json (`extra` added to it). With several ports the
// verdict starts with the port's `prefix`. A log line that could not be written makes
// the command fail (exit 5, "log-failed"), and so do a --trace that lost bytes and a JSON
// result that could not be written whole to standard output (a full disk); the verdict,
// written last, names each. The result as told is returned. `jsonTold`, when given,
// receives the JSON result object as --json prints it (also without --json).
RunResult reportEnd(const RunResult& result, const FlashOptions& options, AppendLog* log,
                    const QJsonObject& extra = {}, const std::string& prefix = {},
                    QJsonObject* jsonTold = nullptr, const TraceFile* trace = nullptr);

// The room a log line of a download of `base` can take at most: the line as it is before
// the run, with room for what the run adds (counts, times, the reason's words).
std::size_t worstLogLine(const RunResult& base, const FlashOptions& options);

}  // namespace reburn3::cli
