// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace reburn3::serve {

// `reburn3 serve`: parses its words (argv[2] on) and runs the station service until a
// signal ends it. The exit code.
int serveCommand(int argc, char** argv);

}  // namespace reburn3::serve
