#pragma once

#include <cstdint>
#include <istream>
#include <memory>
#include <optional>
#include <string>

namespace reburn3 {

// The one programming script open for reading: a sequential, read-only byte stream.
class ScriptStream {
public:
    // Opens the file for reading. On a case-sensitive file system a name whose
    // extension differs only in case from the file on disk still opens it.
    bool open(const std::string& path);
    // Opens a script held in memory (used where no file is involved).
    void openMemory(std::string bytes);
    // Closing a stream that is not open does nothing.
    void close();

    bool isOpen() const { return m_stream != nullptr; }
    // Back to the first byte. False when the stream cannot be positioned.
    bool rewind();
    // Reads up to n bytes; fewer only at the end of the stream.
    std::size_t read(char* dst, std::size_t n);

private:
    std::unique_ptr<std::istream> m_stream;
};

// The path that opens `path`: itself when it names a file, else the file in the same
// folder whose name differs only in the case of its extension, else `path` unchanged.
std::string resolveScriptPath(const std::string& path);

}  // namespace reburn3
