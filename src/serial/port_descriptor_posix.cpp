#include "serial/port_descriptor.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

namespace reburn3 {

int lastSystemError() {
    return errno;
}

std::int64_t systemOutputQueue(std::intptr_t handle) {
    int queued = 0;
    if (handle < 0 || ::ioctl(static_cast<int>(handle), TIOCOUTQ, &queued) != 0) {
        return -1;
    }
    return queued < 0 ? 0 : queued;
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

bool deviceNameGone(const std::string& path) {
    return !path.empty() && ::access(path.c_str(), F_OK) != 0 && errno == ENOENT;
}

// Linux makes the last close of a terminal wait, up to its closing_wait (30 s for USB
// serial adapters), for the bytes it still holds. A second descriptor of the same open
// file makes the port's own close return at once; the last close then happens on a
// thread nobody waits for, and ends early if the process exits.
std::intptr_t keepForBackgroundClose(std::intptr_t handle) {
    if (handle < 0) {
        return -1;
    }
    return ::fcntl(static_cast<int>(handle), F_DUPFD_CLOEXEC, 0);
}

void closeInBackground(std::intptr_t kept) {
    if (kept < 0) {
        return;
    }
    std::thread([fd = static_cast<int>(kept)] { ::close(fd); }).detach();
}

void waitUntilSent(std::intptr_t handle) {
    if (handle >= 0) {
        ::tcdrain(static_cast<int>(handle));
    }
}

}  // namespace reburn3
