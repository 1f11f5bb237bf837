#pragma once

#include <string>

#include "cli/console_view.h"

namespace reburn3::cli {

struct FlashOptions {
    std::string port;    // "COM1".."COM8" or a device path
    std::string script;  // the pf3 file
    bool json = false;
    ProgressMode progress = ProgressMode::None;
    std::string tracePath;  // empty: no trace
};

// `reburn3 flash`: one download through the program's own procedures, driven by the
// 5 ms tick timer in the event loop of the running QCoreApplication. Returns the exit
// code.
int runFlash(const FlashOptions& options);

}  // namespace reburn3::cli
