// SPDX-License-Identifier: Apache-2.0
// Windows tells less about a COM port that will not open than Linux does: there is no
// group to join and no lock file to read, and which process holds a port only a kernel
// handle walk would tell. So the diagnosis names what it knows: a COM port that does
// not exist, or one that is in use.
#include "run/port_diagnosis.h"

#include "adapters/qt_serial_driver.h"
#include "run/verdict.h"

namespace reburn3::run {

std::string portHolder(const std::string& /*device*/, int /*self*/) {
    return {};
}

// A COM port is opened exclusively by its driver: one held by another program fails the
// open itself (kErrInUse), and there is no lock beside it to look at first.
bool portLocked(const std::string& /*device*/) {
    return false;
}

std::string diagnosePort(const std::string& /*port*/, const std::string& device, int code) {
    if (code == QtSerialDriver::kErrNoDevice) {
        return displayName(device) + " does not exist";
    }
    if (code == QtSerialDriver::kErrInUse) {
        return displayName(device) + " is in use by another program";
    }
    return {};
}

}  // namespace reburn3::run
