#include "cli/script_snapshot.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "script/script_file.h"

namespace reburn3::cli {

namespace {

// A file with no name in `folder`, readable by its owner only (so that another process
// of the same user cannot open it for writing through /proc either), and one that can
// never be linked into a folder (O_EXCL).
int unnamedFileIn(const char* folder) {
    return ::open(folder, O_TMPFILE | O_EXCL | O_RDWR | O_CLOEXEC, 0400);
}

}  // namespace

ScriptSnapshot::~ScriptSnapshot() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool ScriptSnapshot::create(std::string& error) {
    std::vector<const char*> folders;
    if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && *tmp != '\0') {
        folders.push_back(tmp);
    }
    folders.push_back("/var/tmp");
    folders.push_back("/tmp");
    for (const char* folder : folders) {
        m_fd = unnamedFileIn(folder);
        if (m_fd >= 0) {
            return true;
        }
    }
    // No folder takes an unnamed file (a file system without O_TMPFILE): a memfd, which
    // the kernel seals against any change once it is written.
    m_fd = ::memfd_create("reburn3-script", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (m_fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    m_sealable = true;
    return true;
}

void ScriptSnapshot::restart() {
    m_sha.restart();
    m_writeError = 0;
    if (m_fd >= 0 && (::ftruncate(m_fd, 0) != 0 || ::lseek(m_fd, 0, SEEK_SET) != 0)) {
        m_writeError = errno;
    }
}

void ScriptSnapshot::add(const char* data, std::size_t size) {
    m_sha.add(data, size);
    while (m_writeError == 0 && size > 0) {
        const ssize_t n = ::write(m_fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            m_writeError = n < 0 ? errno : ENOSPC;
            break;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

std::string ScriptSnapshot::hexResult() {
    return m_sha.hexResult();
}

std::shared_ptr<ScriptFile> ScriptSnapshot::finish(std::string& error) {
    if (m_fd < 0 || m_writeError != 0) {
        error = std::strerror(m_fd < 0 ? EBADF : m_writeError);
        return nullptr;
    }
    if (m_sealable) {
        ::fcntl(m_fd, F_ADD_SEALS, F_SEAL_WRITE | F_SEAL_GROW | F_SEAL_SHRINK | F_SEAL_SEAL);
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

}  // namespace reburn3::cli
