// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace reburn3 {

// A script file open for reading. It is opened once and judged through the open
// descriptor itself (only a regular file is a script), so that what was judged is what
// is read; a program this one starts never inherits it. Every read names its own
// position, so that several readers can share one open file.
//
// Each platform has its own implementation file, chosen by the build.
class ScriptFile {
public:
    ScriptFile() = default;
    ~ScriptFile();
    ScriptFile(const ScriptFile&) = delete;
    ScriptFile& operator=(const ScriptFile&) = delete;

    // False, with nothing left open, when `path` cannot be opened or is no regular file
    // (a folder, a device, a pipe).
    bool open(const std::string& path);
    void close();
    bool isOpen() const { return m_handle != kNoHandle; }
    // Reads up to n bytes from `offset`; fewer only at the end of the file or when the
    // file cannot be read any further.
    std::size_t readAt(std::uint64_t offset, char* dst, std::size_t n);

private:
    static constexpr std::intptr_t kNoHandle = -1;
    std::intptr_t m_handle = kNoHandle;  // the platform's descriptor or handle
};

}  // namespace reburn3
