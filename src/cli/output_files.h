// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdio>
#include <string>

namespace reburn3::cli {

// The files a download writes besides its output, each opened before the port so that
// a path that cannot be written stops the command before anything is sent.

// --log: one line per download, appended, flushed and synced to the disk as it is
// written, so a power loss loses at most the download in progress.
class AppendLog {
public:
    AppendLog() = default;
    ~AppendLog();
    AppendLog(const AppendLog&) = delete;
    AppendLog& operator=(const AppendLog&) = delete;

    // Opens `path` for appending, creating it. False with the system's words in `error`.
    bool open(const std::string& path, std::string& error);
    bool isOpen() const { return m_file != nullptr; }
    // Appends `line` and a newline, and syncs the file. False when that failed.
    bool append(const std::string& line);

private:
    std::FILE* m_file = nullptr;
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
