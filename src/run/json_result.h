// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QJsonObject>

#include <string>
#include <utility>
#include <vector>

#include "engine/run_result.h"

namespace reburn3::run {

// KEY=VALUE pairs from --tag, in the order given.
using Tags = std::vector<std::pair<std::string, std::string>>;

// The `result` line of `flash --json`: {"type":"result","result":...,"reason":...}.
QJsonObject resultJson(const RunResult& result, const Tags& tags);

// The line --log appends for one download: the result's fields, the host's name, and
// the tags.
QJsonObject logJson(const RunResult& result, const Tags& tags, const std::string& host,
                    const std::string& station = {});

}  // namespace reburn3::run
