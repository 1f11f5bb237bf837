// SPDX-License-Identifier: Apache-2.0
#include "run/output_files.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace reburn3::run {

namespace {

FileIdentity identityOf(const struct stat& st) {
    FileIdentity id;
    id.known = true;
    id.device = st.st_dev;
    id.inode = st.st_ino;
    id.characterDevice = S_ISCHR(st.st_mode);
    id.deviceNumber = id.characterDevice ? st.st_rdev : 0;
    return id;
}

// /dev/null, whatever node names it: takes any output and keeps none.
bool isNullDevice(const struct stat& st) {
    return S_ISCHR(st.st_mode) && ::major(st.st_rdev) == 1 && ::minor(st.st_rdev) == 3;
}

// Whether `st` is the file behind the command's standard output or error.
bool isStandardStream(const struct stat& st) {
    for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
        struct stat out {};
        if (::fstat(fd, &out) == 0 && identityOf(out).sameAs(identityOf(st))) {
            return true;
        }
    }
    return false;
}

enum class Use { Log, Trace };

// The kinds of file each output takes besides a regular file, for the refusal.
const char* acceptedText(Use use) {
    return use == Use::Log
               ? "; the log takes a regular file or /dev/null"
               : "; the trace takes a regular file, /dev/null, or the command's standard "
                 "output or error";
}

// Empty when an output for `use` may be a file like `st`, else why not.
std::string judge(const struct stat& st, Use use,
                  const std::vector<ProtectedFile>& protectedFiles) {
    const FileIdentity id = identityOf(st);
    if (!isNullDevice(st)) {
        for (const ProtectedFile& p : protectedFiles) {
            if (id.sameAs(p.identity)) {
                return "it is " + p.what;
            }
        }
    }
    if (S_ISDIR(st.st_mode)) {
        return std::strerror(EISDIR);
    }
    if (S_ISREG(st.st_mode) || isNullDevice(st)) {
        return {};
    }
    if (use == Use::Trace && isStandardStream(st)) {
        return {};
    }
    return "it is " + fileKindText(st.st_mode) + acceptedText(use);
}

// An output opened for writing without waiting and judged on its descriptor. -1 with
// the reason in `error`. `created`: the file did not exist and this call made it.
int openOutput(const std::string& path, Use use, int extraFlags,
               const std::vector<ProtectedFile>& protectedFiles, bool& created,
               std::string& error) {
    created = false;
    const std::string name = resolvedName(path);
    for (const ProtectedFile& p : protectedFiles) {
        if (!name.empty() && name == p.path) {
            error = "it is " + p.what;
            return -1;
        }
    }
    struct stat named {};
    if (::stat(path.c_str(), &named) == 0) {
        error = judge(named, use, protectedFiles);
        if (!error.empty()) {
            return -1;
        }
    }
    const int flags = O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | extraFlags;
    int fd = ::open(path.c_str(), flags | O_CREAT | O_EXCL, 0644);
    if (fd >= 0) {
        created = true;
    } else if (errno == EEXIST) {
        fd = ::open(path.c_str(), flags);
    }
    if (fd < 0) {
        // A FIFO with no reader (ENXIO) or a socket that appeared since the stat.
        const int why = errno;
        error = ::stat(path.c_str(), &named) == 0 && !S_ISREG(named.st_mode)
                    ? judge(named, use, protectedFiles)
                    : std::string();
        if (error.empty()) {
            error = std::strerror(why);
        }
        return -1;
    }
    struct stat opened {};
    error = ::fstat(fd, &opened) != 0 ? std::strerror(errno) : judge(opened, use, protectedFiles);
    if (!error.empty()) {
        ::close(fd);
        if (created) {
            ::unlink(path.c_str());
            created = false;
        }
        return -1;
    }
    // Writes wait as any output's do: the flag was for the open alone.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

// Removes `path` if it is still the file `id` (one this command created).
void removeCreated(const std::string& path, const FileIdentity& id) {
    if (identityOfPath(path).sameAs(id)) {
        ::unlink(path.c_str());
    }
}

// Whether the file system of `fd` has room for `bytes` now. Nothing is written.
bool hasRoom(int fd, std::size_t bytes, std::string& error) {
    struct statvfs fs {};
    if (::fstatvfs(fd, &fs) != 0) {
        return true;  // a file system that does not say: the write will tell
    }
    // Root may write into the blocks a file system keeps back for it; others may not.
    const unsigned long long blocks = ::geteuid() == 0 ? fs.f_bfree : fs.f_bavail;
    if (blocks * fs.f_frsize < bytes) {
        error = std::strerror(ENOSPC);
        return false;
    }
    return true;
}

}  // namespace

FileIdentity identityOfPath(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? identityOf(st) : FileIdentity{};
}

FileIdentity identityOfDescriptor(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? identityOf(st) : FileIdentity{};
}

std::string fileKindText(mode_t mode) {
    if (S_ISFIFO(mode)) {
        return "a FIFO (named pipe)";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "a device";
    }
    if (S_ISDIR(mode)) {
        return "a folder";
    }
    return "not a regular file";
}

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

bool AppendLog::open(const std::string& path, const std::vector<ProtectedFile>& protectedFiles,
                     std::string& error) {
    m_fd = openOutput(path, Use::Log, O_APPEND, protectedFiles, m_created, error);
    if (m_fd < 0) {
        return false;
    }
    m_identity = identityOfDescriptor(m_fd);
    struct stat st {};
    m_regular = ::fstat(m_fd, &st) == 0 && S_ISREG(st.st_mode);
    int attributes = 0;
    m_appendOnly = m_regular && ::ioctl(m_fd, FS_IOC_GETFLAGS, &attributes) == 0 &&
                   (attributes & FS_APPEND_FL) != 0;
    return true;
}

bool AppendLog::canTake(std::size_t bytes, std::string& error) {
    if (m_fd < 0) {
        error = std::strerror(EBADF);
        return false;
    }
    return !m_regular || hasRoom(m_fd, bytes, error);
}

bool AppendLog::append(const std::string& line, std::string& error) {
    if (m_fd < 0) {
        error = std::strerror(EBADF);
        return false;
    }
    const std::string record = line + '\n';
    const LineLock lock(m_fd);
    if (!m_regular) {
        // /dev/null: nothing to keep, nothing to sync.
        const ssize_t written = ::write(m_fd, record.data(), record.size());
        error = written < 0 ? std::strerror(errno) : std::string();
        return written >= 0;
    }
    struct stat before {};
    if (::fstat(m_fd, &before) != 0) {
        error = std::strerror(errno);
        return false;
    }
    // A line that would not fit is not begun: nothing to take back afterwards (which an
    // append-only file would not allow).
    if (!hasRoom(m_fd, record.size(), error)) {
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
    if (written > 0 && ::ftruncate(m_fd, before.st_size) != 0) {
        error += m_appendOnly ? "; the part written could not be taken back (the file is "
                                "append-only)"
                              : "; the part written could not be taken back";
        return false;
    }
    ::fsync(m_fd);
    return false;
}

bool TraceFile::open(const std::string& path, const std::vector<ProtectedFile>& protectedFiles,
                     std::string& error) {
    const int fd = openOutput(path, Use::Trace, 0, protectedFiles, m_created, error);
    if (fd < 0) {
        return false;
    }
    m_identity = identityOfDescriptor(fd);
    struct stat st {};
    m_cuttable = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && !isStandardStream(st);
    m_file = ::fdopen(fd, "w");
    if (m_file == nullptr) {
        error = std::strerror(errno);
        ::close(fd);
        if (m_created) {
            removeCreated(path, m_identity);
        }
        return false;
    }
    return true;
}

void TraceFile::begin() {
    if (m_file != nullptr && m_cuttable && ::ftruncate(::fileno(m_file), 0) == 0) {
        std::rewind(m_file);
    }
}

}  // namespace reburn3::run
