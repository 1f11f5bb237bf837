// SPDX-License-Identifier: Apache-2.0
#include "run/output_files.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace reburn3::run {

bool FileIdentity::sameAs(const FileIdentity& other) const {
    if (!known || !other.known) {
        return false;
    }
    if (device == other.device && inode == other.inode) {
        return true;
    }
    return characterDevice && other.characterDevice && deviceNumber == other.deviceNumber;
}

std::string resolvedName(const std::string& path) {
    std::error_code error;
    const std::filesystem::path name = std::filesystem::weakly_canonical(path, error);
    return error ? std::string() : name.string();
}

TraceFile::~TraceFile() {
    if (m_file != nullptr) {
        std::fclose(m_file);
    }
}

void TraceFile::restart() {
    if (m_file == nullptr) {
        return;
    }
    std::fflush(m_file);
    begin();
    std::clearerr(m_file);
    m_error = 0;
    std::fputs("# tick direction byte (TX: to the device, RX: from it; ticks of 5 ms)\n", m_file);
    flush();
}

void TraceFile::flush() {
    if (m_file == nullptr) {
        return;
    }
    errno = 0;
    if ((std::fflush(m_file) != 0 || std::ferror(m_file) != 0) && m_error == 0) {
        m_error = errno != 0 ? errno : EIO;
    }
}

std::string TraceFile::problem() const {
    return m_error == 0 ? std::string() : std::string(std::strerror(m_error));
}

}  // namespace reburn3::run
