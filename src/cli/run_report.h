// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QJsonObject>

#include <string>
#include <vector>

#include "cli/flash_command.h"
#include "engine/run_result.h"
#include "run/output_files.h"
#include "run/run_listener.h"

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

// Tells a board's end once it is recorded: the verdict as the last line on standard error
// and the JSON result with --json. The result as told is returned: a JSON output that
// could not be written whole (a full disk) fails it (exit 5). `jsonTold`, when given,
// receives the JSON result object as --json prints it (also without --json).
RunResult tellEnd(const RunEnd& end, QJsonObject* jsonTold = nullptr);

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
