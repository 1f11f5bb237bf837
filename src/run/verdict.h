// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

#include "engine/run_result.h"

namespace reburn3::run {

// The last line of every download, "reburn3: " first: what happened, where in the
// script, whether the device received any of it, and what to do next.
// A download whose log line was lost (exit 5) is told as `logFailure` first, then as
// the download's own verdict.
std::string verdictLine(const RunResult& result, const std::string& logFailure = {});

// The first line of a download: the tool's version and commit, the device the port resolved to,
// the script and its SHA-256.
std::string headerLine(const RunResult& result);

// A file name as it can be shown on a terminal: printable ASCII as it is, any other
// byte as <XX>, as record texts are shown.
std::string displayName(const std::string& name);

}  // namespace reburn3::run
