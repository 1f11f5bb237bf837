// SPDX-License-Identifier: Apache-2.0
#include "run/script_snapshot.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <vector>

#include "script/script_file.h"

namespace reburn3::run {

namespace {

// A file with no name in `folder`, readable by its owner only (so that another process
// of the same user cannot open it for writing through /proc either), and one that can
// never be linked into a folder (O_EXCL).
int unnamedFileIn(const std::string& folder) {
    return ::open(folder.c_str(), O_TMPFILE | O_EXCL | O_RDWR | O_CLOEXEC, 0400);
}

// Writes all of `size` bytes at the end of `fd`; 0, or the errno of the failure.
int writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return n < 0 ? errno : ENOSPC;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

// MemAvailable of /proc/meminfo, in bytes; unknown: as if plenty.
std::uint64_t availableMemory() {
    std::ifstream meminfo("/proc/meminfo");
    std::string word;
    while (meminfo >> word) {
        if (word == "MemAvailable:") {
            std::uint64_t kb = 0;
            if (meminfo >> kb) {
                return kb * 1024U;
            }
            break;
        }
    }
    return std::numeric_limits<std::uint64_t>::max();
}

}  // namespace

ScriptSnapshot::~ScriptSnapshot() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool ScriptSnapshot::create(std::string& error, std::uint64_t size) {
    m_places.clear();
    if (size <= availableMemory() / 2) {
        m_places.emplace_back();  // the memfd
    }
    if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && *tmp != '\0') {
        m_places.emplace_back(tmp);
    }
    m_places.emplace_back("/var/tmp");
    m_places.emplace_back("/tmp");
    m_place = 0;
    m_written = 0;
    m_writeError = 0;
    return openNextPlace(error);
}

bool ScriptSnapshot::openNextPlace(std::string& error) {
    int why = 0;
    for (; m_place < m_places.size(); ++m_place) {
        const std::string& folder = m_places[m_place];
        const int fd = folder.empty()
                           ? ::memfd_create("reburn3-script", MFD_CLOEXEC | MFD_ALLOW_SEALING)
                           : unnamedFileIn(folder);
        if (fd < 0) {
            why = errno;
            continue;
        }
        // What went into the place before is carried over, read back from it.
        int copyError = 0;
        std::vector<char> block(1 << 16);
        for (std::uint64_t at = 0; copyError == 0 && m_fd >= 0 && at < m_written;) {
            const ssize_t got = ::pread(m_fd, block.data(), block.size(), static_cast<off_t>(at));
            if (got <= 0) {
                copyError = got < 0 ? errno : EIO;
                break;
            }
            copyError = writeAll(fd, block.data(), static_cast<std::size_t>(got));
            at += static_cast<std::uint64_t>(got);
        }
        if (copyError != 0) {
            why = copyError;
            ::close(fd);
            continue;
        }
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = fd;
        m_sealable = folder.empty();
        return true;
    }
    error = std::strerror(why != 0 ? why : ENOSPC);
    return false;
}

void ScriptSnapshot::restart() {
    m_sha.restart();
    m_writeError = 0;
    m_written = 0;
    if (m_fd >= 0 && (::ftruncate(m_fd, 0) != 0 || ::lseek(m_fd, 0, SEEK_SET) != 0)) {
        m_writeError = errno;
    }
}

void ScriptSnapshot::add(const char* data, std::size_t size) {
    m_sha.add(data, size);
    if (m_writeError != 0 || m_fd < 0) {
        return;
    }
    // A place that fills up (a full $TMPDIR, a memory limit on the memfd) hands over to
    // the next one, with what it took so far.
    while (const int why = writeAll(m_fd, data, size)) {
        ::ftruncate(m_fd, static_cast<off_t>(m_written));
        ::lseek(m_fd, static_cast<off_t>(m_written), SEEK_SET);
        ++m_place;
        std::string ignored;
        if (!openNextPlace(ignored)) {
            m_writeError = why;
            return;
        }
    }
    m_written += size;
}

std::string ScriptSnapshot::hexResult() {
    return m_sha.hexResult();
}

std::shared_ptr<ScriptFile> ScriptSnapshot::finish(std::string& error) {
    if (m_fd < 0 || m_writeError != 0) {
        error = std::strerror(m_fd < 0 ? EBADF : m_writeError);
        return nullptr;
    }
    // A memfd is frozen by the kernel: no process, the owner's and root's included, can
    // write, grow or cut it any more, through any descriptor or /proc/PID/fd.
    if (m_sealable &&
        ::fcntl(m_fd, F_ADD_SEALS, F_SEAL_WRITE | F_SEAL_GROW | F_SEAL_SHRINK | F_SEAL_SEAL) != 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    // Read-only from here on: the copy is opened again through its descriptor, and the
    // descriptor that could write it is closed.
    auto file = std::make_shared<ScriptFile>();
    const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
    if (!file->open(self)) {
        error = std::strerror(errno);
        return nullptr;
    }
    ::close(m_fd);
    m_fd = -1;
    return file;
}

}  // namespace reburn3::run
