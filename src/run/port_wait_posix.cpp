// SPDX-License-Identifier: Apache-2.0
#include <fcntl.h>
#include <unistd.h>

#include "run/port_diagnosis.h"
#include "run/port_wait.h"

namespace reburn3::run {

bool portReady(const std::string& device) {
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return !portLocked(device);
}

}  // namespace reburn3::run
