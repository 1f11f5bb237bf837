// SPDX-License-Identifier: Apache-2.0
#include "cli/output_files.h"

#include <fcntl.h>
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

AppendLog::~AppendLog() {
    if (m_file != nullptr) {
        std::fclose(m_file);
    }
}

bool AppendLog::open(const std::string& path, std::string& error) {
    m_file = openStream(path, O_WRONLY | O_CREAT | O_APPEND, "a", error);
    return m_file != nullptr;
}

bool AppendLog::append(const std::string& line) {
    if (m_file == nullptr) {
        return false;
    }
    std::fwrite(line.data(), 1, line.size(), m_file);
    std::fputc('\n', m_file);
    return std::fflush(m_file) == 0 && ::fsync(::fileno(m_file)) == 0;
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
