// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <vector>

#include "cli/flash_command.h"
#include "run/flash_session.h"

namespace reburn3::cli {

// --station: round after round on the same ports until the operator quits. Between
// rounds it waits for the next board(s), for Enter on the terminal or for every port to
// be unplugged and plugged again; a failed board never ends it. Every board's result
// goes to --log with its round, a running tally is told after each round, and a
// summary at the end. Returns the exit code over every board (see gangExitCode);
// quitting between rounds is the station's ordinary end and adds nothing to it.
// Every board's result is added to `all`.
int runStation(FlashContext& context, const std::vector<std::string>& ports,
               std::vector<RunResult>& all);

}  // namespace reburn3::cli
