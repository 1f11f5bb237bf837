#include "script/script_stream.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace reburn3 {

namespace fs = std::filesystem;

namespace {

bool sameIgnoringCase(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

bool isRegularFile(const fs::path& p) {
    std::error_code ec;
    return fs::is_regular_file(p, ec);
}

}  // namespace

std::string resolveScriptPath(const std::string& path) {
    const fs::path wanted(path);
    if (path.empty() || isRegularFile(wanted) || !wanted.has_extension()) {
        return path;
    }
    const fs::path folder = wanted.has_parent_path() ? wanted.parent_path() : fs::path(".");
    const std::string stem = wanted.stem().string();
    const std::string extension = wanted.extension().string();
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path candidate = it->path().filename();
        if (candidate.stem().string() == stem &&
            sameIgnoringCase(candidate.extension().string(), extension) &&
            isRegularFile(it->path())) {
            return (wanted.parent_path() / candidate).string();
        }
    }
    return path;
}

bool ScriptStream::open(const std::string& path) {
    close();
    const std::string resolved = resolveScriptPath(path);
    // Only a regular file is a script: a directory, a device or a pipe never is.
    if (!isRegularFile(resolved)) {
        return false;
    }
    auto file = std::make_unique<std::ifstream>(resolved, std::ios::binary);
    if (!file->is_open()) {
        return false;
    }
    m_stream = std::move(file);
    return true;
}

void ScriptStream::openMemory(std::string bytes) {
    m_stream = std::make_unique<std::istringstream>(std::move(bytes), std::ios::binary);
}

void ScriptStream::close() {
    m_stream.reset();
}

bool ScriptStream::rewind() {
    if (!m_stream) {
        return false;
    }
    m_stream->clear();
    m_stream->seekg(0);
    return static_cast<bool>(*m_stream);
}

std::size_t ScriptStream::read(char* dst, std::size_t n) {
    if (!m_stream) {
        return 0;
    }
    m_stream->read(dst, static_cast<std::streamsize>(n));
    return static_cast<std::size_t>(m_stream->gcount());
}

}  // namespace reburn3
