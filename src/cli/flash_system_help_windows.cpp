// SPDX-License-Identifier: Apache-2.0
#include "cli/flash_system_help.h"

namespace reburn3::cli {

std::string_view flashSystemHelp() {
    return "Ctrl-C, Ctrl-Break and closing the console abort the run like \"Abort\n"
           "Process\" and release the port; once the last line is written they no longer\n"
           "change the exit code. Port n is the system's COMn.\n";
}

}  // namespace reburn3::cli
