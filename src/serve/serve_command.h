// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace reburn3::run {
class RunListener;
}

namespace reburn3::serve {

// `reburn3 serve`: parses its words (argv[2] on) and runs the station service until a
// signal ends it, telling every board also to `terminal` (the program's standard output
// and error, as `flash` tells them). The exit code.
int serveCommand(int argc, char** argv, run::RunListener& terminal);

}  // namespace reburn3::serve
