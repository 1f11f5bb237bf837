// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace reburn3::run {

// The files a download writes besides its output, each opened before the port so that
// a path that cannot be written stops the command before anything is sent.
//
// An output is opened without waiting (O_NONBLOCK, so that a named pipe with no reader
// is an error at once rather than a hang) and judged by fstat on the open descriptor.
// A path is judged by stat first as well, so that a FIFO, a socket or a device is
// refused without being opened at all (opening a serial device raises its modem lines).
// An output may never be a file the command reads or another output: the script, a
// port's device, the other output, standard output while it carries JSON Lines.

// Which file a path or descriptor is: its device and inode, and for a device node the
// device it stands for (two nodes of one serial port are the same port).
struct FileIdentity {
    bool known = false;
    dev_t device = 0;         // the file system; on Windows the volume's serial number
    std::uint64_t inode = 0;  // the inode; on Windows the file index
    bool characterDevice = false;
    dev_t deviceNumber = 0;  // st_rdev of a device node

    bool sameAs(const FileIdentity& other) const;
};

// The file `path` names, following links; unknown when it does not exist.
FileIdentity identityOfPath(const std::string& path);
FileIdentity identityOfDescriptor(int fd);

// A file an output must not be, and how the refusal names it ("the script", "the port
// /dev/ttyUSB0"). `path`, its name with every link resolved, also protects a file that
// does not exist yet (a port --wait-for-port waits for), which an output would create.
struct ProtectedFile {
    FileIdentity identity;
    std::string what;
    std::string path;
};

// `path` absolute, with the links of the part that exists resolved; empty when it cannot
// be made so.
std::string resolvedName(const std::string& path);

// "a FIFO (named pipe)", "a socket", "a device", ...: what a file of `mode` is.
std::string fileKindText(mode_t mode);

// --log: one line per download, appended and synced to the disk as it is written, so
// a power loss loses at most the download in progress. A line is whole or absent: it
// goes out in one write, and a write that fails or falls short (a full disk) is taken
// back by cutting the file to its size before it, so the file stays JSON Lines. Every
// reburn3 writing to the same file takes an exclusive lock (flock) around each line, so
// that lines of several stations never mix and a cut never takes another's line.
//
// Nothing is ever written ahead of a line (no preallocation that a failure could leave
// behind as NUL bytes, or that an append-only file would keep): the room for a round's
// lines is judged from the file system's free space, and again just before each line.
// The log is a regular file (an append-only one, `chattr +a`, included) or /dev/null.
class AppendLog {
public:
    AppendLog() = default;
    ~AppendLog();
    AppendLog(const AppendLog&) = delete;
    AppendLog& operator=(const AppendLog&) = delete;

    // Opens `path` for appending, creating it, unless it is one of `protectedFiles`.
    // False with the reason in `error`, and no file left created.
    bool open(const std::string& path, const std::vector<ProtectedFile>& protectedFiles,
              std::string& error);
    bool isOpen() const { return m_fd >= 0; }
    const FileIdentity& identity() const { return m_identity; }
    // Whether the file system has room for `bytes` more now. Nothing is written. False
    // with the system's words (a full disk).
    bool canTake(std::size_t bytes, std::string& error);
    // Appends `line` and a newline in one write and syncs the file. False, with the file
    // as it was before and the system's words in `error`, when that failed.
    bool append(const std::string& line, std::string& error);

private:
    int m_fd = -1;
    bool m_created = false;
    bool m_appendOnly = false;  // FS_APPEND_FL: a failed line cannot be cut back
    bool m_regular = false;
    FileIdentity m_identity;
};

// --trace: every byte as it crosses the line, flushed at least once a tick, so that a
// killed run still leaves the trace up to its last tick. Each download of a series
// starts it afresh, so it keeps the last one's bytes. It is a regular file, /dev/null,
// or the command's own standard output or error (/dev/stdout, /dev/stderr). A write
// that fails (a full disk) is remembered and told at the end of the download.
class TraceFile {
public:
    TraceFile() = default;
    ~TraceFile();
    TraceFile(const TraceFile&) = delete;
    TraceFile& operator=(const TraceFile&) = delete;

    // Opens `path` for writing, creating it, unless it is one of `protectedFiles`; an
    // existing file is not cut until begin().
    bool open(const std::string& path, const std::vector<ProtectedFile>& protectedFiles,
              std::string& error);
    bool isOpen() const { return m_file != nullptr; }
    const FileIdentity& identity() const { return m_identity; }
    // Empties the file (a regular file of its own; never a standard stream).
    void begin();
    // Empties the file and writes its heading, for a new download.
    void restart();
    std::FILE* stream() const { return m_file; }
    void flush();
    // The system's words for the first write that failed since restart(); empty: none.
    std::string problem() const;

private:
    std::FILE* m_file = nullptr;
    bool m_created = false;
    bool m_cuttable = false;  // a regular file of its own, not a standard stream
    int m_error = 0;
    FileIdentity m_identity;
};

}  // namespace reburn3::run
