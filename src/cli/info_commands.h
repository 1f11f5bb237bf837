#pragma once

#include <string>

namespace reburn3::cli {

// `reburn3 check SCRIPT`: the full check of a script, without a port. Prints its measure
// and the least time a download takes, or its faults (exit 3).
int runCheck(const std::string& script, bool json);

// `reburn3 ports`: the serial ports present and the COM1 to COM8 map in effect.
int runPorts(bool json);

}  // namespace reburn3::cli
