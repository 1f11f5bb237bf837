#include "cli/port_watcher.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace reburn3::cli {

namespace {

// The descriptor the process holds open on `devicePath`, or -1. When there are several,
// the newest (highest) is the port just opened.
int findOpenDescriptor(const std::string& devicePath) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path wanted = fs::canonical(devicePath, error);
    if (error) {
        return -1;
    }
    int found = -1;
    for (fs::directory_iterator it("/proc/self/fd", error), end; !error && it != end;
         it.increment(error)) {
        std::error_code linkError;
        const fs::path target = fs::read_symlink(it->path(), linkError);
        if (linkError || target != wanted) {
            continue;
        }
        try {
            const int fd = std::stoi(it->path().filename().string());
            found = fd > found ? fd : found;
        } catch (const std::exception&) {
        }
    }
    return found;
}

}  // namespace

PortWatcher::~PortWatcher() {
    stop();
}

bool PortWatcher::watch(const std::string& devicePath) {
    stop();
    const int fd = findOpenDescriptor(devicePath);
    if (fd < 0) {
        return false;
    }
    // A descriptor of our own on the same open file: the driver's descriptor and its own
    // notifier are left alone.
    m_fd = ::dup(fd);
    if (m_fd < 0) {
        return false;
    }
    m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &PortWatcher::bytesArrived);
    return true;
}

void PortWatcher::stop() {
    m_notifier.reset();
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

}  // namespace reburn3::cli
