// SPDX-License-Identifier: Apache-2.0
#include <windows.h>

#include "run/port_wait.h"

namespace reburn3::run {

// A COM port opens for one process at a time: an open that succeeds is a port that is
// there and free (and is closed again at once).
bool portReady(const std::string& device) {
    const std::string path = device.rfind("\\\\", 0) == 0 ? device : "\\\\.\\" + device;
    HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(port);
    return true;
}

}  // namespace reburn3::run
