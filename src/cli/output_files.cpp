// SPDX-License-Identifier: Apache-2.0
#include "cli/output_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace reburn3::cli {

namespace {

// Opens `path` with `flags` (close-on-exec always), as a stdio stream in `mode`.
std::FILE* openStream(const std::string& path, int flags, const char* mode, std::string& error) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, mode);
    if (file == nullptr) {
        error = std::strerror(errno);
        ::close(fd);
    }
    return file;
}

}  // namespace

// The log's lock for one line: other reburn3 processes on the same file wait for it.
class LineLock {
public:
    explicit LineLock(int fd) : m_fd(fd) {
        while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~LineLock() { ::flock(m_fd, LOCK_UN); }
    LineLock(const LineLock&) = delete;
    LineLock& operator=(const LineLock&) = delete;

private:
    int m_fd;
};

AppendLog::~AppendLog() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool AppendLog::open(const std::string& path, std::string& error) {
    m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (m_fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

bool AppendLog::canTake(std::size_t bytes, std::string& error) {
    if (m_fd < 0) {
        error = std::strerror(EBADF);
        return false;
    }
    const LineLock lock(m_fd);
    struct stat before {};
    if (::fstat(m_fd, &before) != 0) {
        error = std::strerror(errno);
        return false;
    }
    const int result = ::fallocate(m_fd, 0, before.st_size, static_cast<off_t>(bytes));
    const int why = result == 0 ? 0 : errno;
    if (::ftruncate(m_fd, before.st_size) != 0 && why == 0) {
        error = std::strerror(errno);
        return false;
    }
    if (why == EOPNOTSUPP || why == ENOSYS || why == EPERM) {
        // A file system that cannot allocate ahead, or a file that may only grow (an
        // append-only log): its free space has to do.
        struct statvfs fs {};
        if (::fstatvfs(m_fd, &fs) == 0 &&
            static_cast<unsigned long long>(fs.f_bavail) * fs.f_frsize < bytes) {
            error = std::strerror(ENOSPC);
            return false;
        }
        return true;
    }
    if (why != 0) {
        error = std::strerror(why);
        return false;
    }
    return true;
}

bool AppendLog::append(const std::string& line, std::string& error) {
    if (m_fd < 0) {
        error = std::strerror(EBADF);
        return false;
    }
    const std::string record = line + '\n';
    const LineLock lock(m_fd);
    struct stat before {};
    if (::fstat(m_fd, &before) != 0) {
        error = std::strerror(errno);
        return false;
    }
    ssize_t written = -1;
    do {
        written = ::write(m_fd, record.data(), record.size());
    } while (written < 0 && errno == EINTR);
    int why = 0;
    if (written < 0) {
        why = errno;
    } else if (static_cast<std::size_t>(written) != record.size()) {
        why = ENOSPC;  // a short write: the disk or a quota took only part of it
    } else if (::fsync(m_fd) != 0) {
        why = errno;
    }
    if (why == 0) {
        return true;
    }
    error = std::strerror(why);
    // Whatever part of the line went in is taken out again.
    if (::ftruncate(m_fd, before.st_size) == 0) {
        ::fsync(m_fd);
    }
    return false;
}

TraceFile::~TraceFile() {
    if (m_file != nullptr) {
        std::fclose(m_file);
    }
}

bool TraceFile::open(const std::string& path, std::string& error) {
    m_file = openStream(path, O_WRONLY | O_CREAT | O_TRUNC, "w", error);
    return m_file != nullptr;
}

void TraceFile::restart() {
    if (m_file == nullptr) {
        return;
    }
    std::fflush(m_file);
    if (::ftruncate(::fileno(m_file), 0) == 0) {
        std::rewind(m_file);
    }
    std::fputs("# tick direction byte (TX: to the device, RX: from it; ticks of 5 ms)\n", m_file);
    std::fflush(m_file);
}

void TraceFile::flush() {
    if (m_file != nullptr) {
        std::fflush(m_file);
    }
}

}  // namespace reburn3::cli
