// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QJsonObject>

#include "cli/flash_command.h"
#include "cli/output_files.h"
#include "engine/run_result.h"

namespace reburn3::cli {

// The end of a download, told once from its result: the verdict as the last line on
// standard error (a usage error has had its own line), the JSON result with --json
// (`extra` added to it), and the line of `log` when it is open. With several ports the
// verdict starts with the port's `prefix`.
void reportEnd(const RunResult& result, const FlashOptions& options, AppendLog* log,
               const QJsonObject& extra = {}, const std::string& prefix = {});

}  // namespace reburn3::cli
