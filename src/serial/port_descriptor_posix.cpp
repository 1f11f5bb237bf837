// SPDX-License-Identifier: Apache-2.0
#include "serial/port_descriptor.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>

namespace reburn3 {

int lastSystemError() {
    return errno;
}

std::int64_t systemOutputQueue(std::intptr_t handle) {
    int queued = 0;
    if (handle < 0 || ::ioctl(static_cast<int>(handle), TIOCOUTQ, &queued) != 0 || queued < 0) {
        return 0;
    }
    return queued;
}

bool deviceGone(std::intptr_t handle, int lastError) {
    // The errors a tty gives once its device has been removed or hung up.
    if (lastError == EIO || lastError == ENXIO || lastError == ENODEV || lastError == EBADF) {
        return true;
    }
    if (handle < 0) {
        return true;
    }
    pollfd p{static_cast<int>(handle), POLLIN | POLLOUT, 0};
    if (::poll(&p, 1, 0) < 0) {
        return errno == EBADF;
    }
    return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

}  // namespace reburn3
