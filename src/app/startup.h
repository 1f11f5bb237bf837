// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <string_view>

#include "app/form1.h"

namespace reburn3 {

// The script name a command line's argument text yields: everything up to and
// including the first "." of its file name (after the last "/" or "\\"), followed by
// "PF3"; empty when the file name holds no ".".
std::string DeriveScriptName(std::string_view commandLine);

// The start-up sequence: reset the state, set up Timer2 (5 ms, disabled), take a
// script name from the argument text and show the main window. The windows have
// been created (hidden) by the caller, the main window first.
void MainStartUp(Form1& form, std::string_view commandLine);

}  // namespace reburn3
