// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdio>
#include <string>

namespace reburn3::cli {

// The files a download writes besides its output, each opened before the port so that
// a path that cannot be written stops the command before anything is sent.

// --log: one line per download, appended and synced to the disk as it is written, so
// a power loss loses at most the download in progress. A line is whole or absent: it
// goes out in one write, and a write that fails or falls short (a full disk) is taken
// back by cutting the file to its size before it, so the file stays JSON Lines. Every
// reburn3 writing to the same file takes an exclusive lock (flock) around each line, so
// that lines of several stations never mix and a cut never takes another's line.
class AppendLog {
public:
    AppendLog() = default;
    ~AppendLog();
    AppendLog(const AppendLog&) = delete;
    AppendLog& operator=(const AppendLog&) = delete;

    // Opens `path` for appending, creating it. False with the system's words in `error`.
    bool open(const std::string& path, std::string& error);
    bool isOpen() const { return m_fd >= 0; }
    // Whether the file can take `bytes` more now: the space is allocated at its end and
    // given back at once. False with the system's words (a full disk, a quota).
    bool canTake(std::size_t bytes, std::string& error);
    // Appends `line` and a newline in one write and syncs the file. False, with the file
    // as it was before and the system's words in `error`, when that failed.
    bool append(const std::string& line, std::string& error);

private:
    int m_fd = -1;
};

// --trace: every byte as it crosses the line, flushed at least once a tick, so that a
// killed run still leaves the trace up to its last tick. Each download of a series
// starts it afresh, so it keeps the last one's bytes.
class TraceFile {
public:
    TraceFile() = default;
    ~TraceFile();
    TraceFile(const TraceFile&) = delete;
    TraceFile& operator=(const TraceFile&) = delete;

    bool open(const std::string& path, std::string& error);
    bool isOpen() const { return m_file != nullptr; }
    // Empties the file and writes its heading, for a new download.
    void restart();
    std::FILE* stream() const { return m_file; }
    void flush();

private:
    std::FILE* m_file = nullptr;
};

}  // namespace reburn3::cli
