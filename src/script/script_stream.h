// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "script/script_file.h"

namespace reburn3 {

// The one programming script open for reading: a sequential, read-only byte stream.
class ScriptStream {
public:
    // Opens the file for reading. On a case-sensitive file system a name whose
    // extension differs only in case from the file on disk still opens it. A name
    // given to holdFile() is not opened again: its held file is read from its start.
    bool open(const std::string& path);
    // From now on an open of `name` reads `file`, already open, instead of opening the
    // name again: a front end that opens its script once checks and plays that very
    // file, whatever happens to the name on disk meanwhile.
    void holdFile(std::string name, std::shared_ptr<ScriptFile> file);
    // Opens a script held in memory (used where no file is involved).
    void openMemory(std::string bytes);
    // Closing a stream that is not open does nothing.
    void close();

    bool isOpen() const { return m_file != nullptr || m_memory.has_value(); }
    // Back to the first byte. False when the stream cannot be positioned.
    bool rewind();
    // Reads up to n bytes; fewer only at the end of the stream.
    std::size_t read(char* dst, std::size_t n);

private:
    std::shared_ptr<ScriptFile> m_file;
    std::optional<std::string> m_memory;
    std::uint64_t m_position = 0;
    std::string m_heldName;
    std::shared_ptr<ScriptFile> m_held;
};

// The path that opens `path`: itself when it names a file, else the file in the same
// folder whose name differs only in the case of its extension, else `path` unchanged.
std::string resolveScriptPath(const std::string& path);

}  // namespace reburn3
