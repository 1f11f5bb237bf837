// SPDX-License-Identifier: Apache-2.0
// The command's own copy of the script on Windows: a temporary file in the user's
// temporary folder (GetTempPath), opened so that no other process may write it (share
// mode: readers only) and so that Windows deletes it once the command lets go of it
// (FILE_FLAG_DELETE_ON_CLOSE). Once filled it is opened again for reading and the
// handle that could write it is closed: from then on the file is waiting for deletion
// and nothing can open it at all, so the bytes played are the bytes checked and hashed.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "run/script_snapshot.h"
#include "script/script_file.h"

namespace reburn3::run {

ScriptSnapshot::~ScriptSnapshot() {
    if (m_fd >= 0) {
        _close(m_fd);
    }
}

bool ScriptSnapshot::create(std::string& error, std::uint64_t /*size*/) {
    m_places.clear();
    m_place = 0;
    m_written = 0;
    m_writeError = 0;
    m_sealable = false;
    char folder[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathA(sizeof folder, folder);
    if (length == 0 || length > MAX_PATH) {
        error = std::strerror(ENOENT);
        return false;
    }
    m_places.emplace_back(folder);
    return openNextPlace(error);
}

bool ScriptSnapshot::openNextPlace(std::string& error) {
    if (m_place >= m_places.size() || m_fd >= 0) {
        error = std::strerror(ENOSPC);
        return false;
    }
    char name[MAX_PATH + 1] = {};
    if (GetTempFileNameA(m_places[m_place].c_str(), "rb3", 0, name) == 0) {
        error = std::strerror(EACCES);
        return false;
    }
    // The copy's name, for finish() to open it again for reading.
    m_places[m_place] = name;
    const int opened = _sopen_s(
        &m_fd, name, _O_RDWR | _O_BINARY | _O_TRUNC | _O_TEMPORARY | _O_SHORT_LIVED | _O_NOINHERIT,
        _SH_DENYWR, _S_IREAD | _S_IWRITE);
    if (opened != 0) {
        error = std::strerror(opened);
        m_fd = -1;
        DeleteFileA(name);
        return false;
    }
    return true;
}

void ScriptSnapshot::restart() {
    m_sha.restart();
    m_writeError = 0;
    m_written = 0;
    if (m_fd >= 0 && (_chsize_s(m_fd, 0) != 0 || _lseeki64(m_fd, 0, SEEK_SET) != 0)) {
        m_writeError = errno;
    }
}

void ScriptSnapshot::add(const char* data, std::size_t size) {
    m_sha.add(data, size);
    if (m_writeError != 0 || m_fd < 0) {
        return;
    }
    // One temporary folder, no other place to move to: a full disk fails the copy, and
    // finish() says so.
    while (size > 0) {
        const unsigned int piece = size > (1U << 30) ? (1U << 30) : static_cast<unsigned>(size);
        const int n = _write(m_fd, data, piece);
        if (n <= 0) {
            m_writeError = n < 0 ? errno : ENOSPC;
            return;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
        m_written += static_cast<std::uint64_t>(n);
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
    auto file = std::make_shared<ScriptFile>();
    if (!file->open(m_places[m_place])) {
        error = std::strerror(EACCES);
        return nullptr;
    }
    _close(m_fd);
    m_fd = -1;
    return file;
}

}  // namespace reburn3::run
