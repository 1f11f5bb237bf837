// SPDX-License-Identifier: Apache-2.0
#include "script/script_stream.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

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
    if (m_held && path == m_heldName) {
        m_file = m_held;
        return true;
    }
    auto file = std::make_shared<ScriptFile>();
    if (!file->open(resolveScriptPath(path))) {
        return false;
    }
    m_file = std::move(file);
    return true;
}

void ScriptStream::holdFile(std::string name, std::shared_ptr<ScriptFile> file) {
    m_heldName = std::move(name);
    m_held = std::move(file);
}

void ScriptStream::openMemory(std::string bytes) {
    close();
    m_memory = std::move(bytes);
}

void ScriptStream::close() {
    m_file.reset();
    m_memory.reset();
    m_position = 0;
}

bool ScriptStream::rewind() {
    if (!isOpen()) {
        return false;
    }
    m_position = 0;
    return true;
}

std::size_t ScriptStream::read(char* dst, std::size_t n) {
    std::size_t got = 0;
    if (m_file) {
        got = m_file->readAt(m_position, dst, n);
    } else if (m_memory && m_position < m_memory->size()) {
        got = std::min<std::size_t>(n, m_memory->size() - static_cast<std::size_t>(m_position));
        std::copy_n(m_memory->data() + m_position, got, dst);
    }
    m_position += got;
    return got;
}

}  // namespace reburn3
