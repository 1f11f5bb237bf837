// SPDX-License-Identifier: Apache-2.0
#include "adapters/port_descriptor.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

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

namespace {

// The device's entry in sysfs: present for every registered character device, absent for
// a pseudo-terminal's slave. Its `device` link leads to the hardware (a platform or PCI
// UART, a USB interface); a virtual terminal has none.
std::string sysfsEntry(std::uint64_t number) {
    return "/sys/dev/char/" + std::to_string(major(static_cast<dev_t>(number))) + ":" +
           std::to_string(minor(static_cast<dev_t>(number)));
}

bool present(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

OpenDevice identifyOpenDevice(std::intptr_t handle) {
    OpenDevice device;
    struct stat st {};
    if (handle < 0 || ::fstat(static_cast<int>(handle), &st) != 0 || !S_ISCHR(st.st_mode)) {
        return device;
    }
    device.number = static_cast<std::uint64_t>(st.st_rdev);
    const std::string entry = sysfsEntry(device.number);
    device.listed = present(entry);
    device.confirmsDelivery = device.listed && present(entry + "/device");
    return device;
}

bool openDeviceGone(const OpenDevice& device) {
    if (!device.listed) {
        return false;
    }
    struct stat st {};
    return ::stat(sysfsEntry(device.number).c_str(), &st) != 0 && errno == ENOENT;
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

bool opensButIsNoTerminal(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool terminal = ::isatty(fd) != 0;
    ::close(fd);
    return !terminal;
}

bool mayReadAndWrite(const std::string& path) {
    return ::access(path.c_str(), R_OK | W_OK) == 0;
}

bool heldByAnotherProcess(std::intptr_t handle) {
    return ::flock(static_cast<int>(handle), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

namespace {

std::string groupName(gid_t gid) {
    if (const group* g = ::getgrgid(gid); g != nullptr && g->gr_name != nullptr) {
        return g->gr_name;
    }
    return std::to_string(gid);
}

std::string ownerName(uid_t uid) {
    if (const passwd* p = ::getpwuid(uid); p != nullptr && p->pw_name != nullptr) {
        return p->pw_name;
    }
    return std::to_string(uid);
}

// True when this process already runs with `gid` among its groups.
bool inGroup(gid_t gid) {
    if (::getegid() == gid) {
        return true;
    }
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(static_cast<std::size_t>(count > 0 ? count : 0));
    if (count <= 0 || ::getgroups(count, groups.data()) != count) {
        return false;
    }
    for (const gid_t g : groups) {
        if (g == gid) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::string permissionDiagnosis(const std::string& device) {
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0) {
        return {};
    }
    const std::string group = groupName(st.st_gid);
    const bool groupMayUse = (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    if (groupMayUse && !inGroup(st.st_gid)) {
        return "it belongs to the group " + group + ": add the user to it (sudo adduser $USER " +
               group + ") and log in again";
    }
    if (groupMayUse) {
        return "it belongs to the group " + group +
               ", which this process has, yet the system refused it: ask for access to it";
    }
    return "it is open to its owner " + ownerName(st.st_uid) + " only (its group " + group +
           " may not both read and write it): ask for access to it";
}

}  // namespace reburn3
