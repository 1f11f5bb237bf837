// SPDX-License-Identifier: Apache-2.0
#include "cli/flash_system_help.h"

namespace reburn3::cli {

std::string_view flashSystemHelp() {
    return "Ctrl-C, SIGTERM and SIGHUP abort the run like \"Abort Process\" and release\n"
           "the port; once the last line is written they no longer change the exit code.\n"
           "Port n is the device in the environment variable ORX716_COMn if set, else\n"
           "/dev/ttyS<n-1>.\n";
}

}  // namespace reburn3::cli
