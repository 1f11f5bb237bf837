// SPDX-License-Identifier: Apache-2.0
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "script/script_file.h"

namespace reburn3 {

namespace {

int descriptorOf(std::intptr_t handle) {
    return static_cast<int>(handle);
}

}  // namespace

ScriptFile::~ScriptFile() {
    close();
}

bool ScriptFile::open(const std::string& path) {
    close();
    // O_NONBLOCK: opening a named pipe must not wait for a writer before fstat can
    // refuse it. A regular file ignores the flag.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return false;
    }
    m_handle = fd;
    return true;
}

void ScriptFile::close() {
    if (isOpen()) {
        ::close(descriptorOf(m_handle));
        m_handle = kNoHandle;
    }
}

std::size_t ScriptFile::readAt(std::uint64_t offset, char* dst, std::size_t n) {
    std::size_t total = 0;
    while (isOpen() && total < n) {
        const ssize_t got = ::pread(descriptorOf(m_handle), dst + total, n - total,
                                    static_cast<off_t>(offset + total));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        total += static_cast<std::size_t>(got);
    }
    return total;
}

}  // namespace reburn3
