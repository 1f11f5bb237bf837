// SPDX-License-Identifier: Apache-2.0
// The --log and --trace files on Windows: opened with CreateFile, judged on the open
// handle (GetFileType: only a disk file is an output, besides NUL), and told apart by
// their identity (the volume's serial number and the file index), as Linux tells files
// apart by device and inode. The log's lines are locked (LockFileEx) and flushed to the
// disk (FlushFileBuffers) one by one; a line that fails is cut back (SetEndOfFile).
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "run/output_files.h"

namespace reburn3::run {

namespace {

HANDLE handleOf(int fd) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

FileIdentity identityOfHandle(HANDLE file) {
    FileIdentity id;
    BY_HANDLE_FILE_INFORMATION info{};
    if (file == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(file, &info)) {
        return id;
    }
    id.known = true;
    id.device = info.dwVolumeSerialNumber;
    id.inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32U) | info.nFileIndexLow;
    return id;
}

// NUL, the device that takes any output and keeps none.
bool isNullName(const std::string& path) {
    return _stricmp(path.c_str(), "NUL") == 0 || _stricmp(path.c_str(), "\\\\.\\NUL") == 0;
}

// Whether `path` is a DOS device name ("COM3", "\\.\COM3", "LPT1", "CON"): judged by its
// name alone, so that a COM port is never opened (its modem lines raised) to learn that it
// is no output.
bool isDeviceName(const std::string& path) {
    const std::string name = path.rfind("\\\\.\\", 0) == 0 ? path.substr(4) : path;
    if (name.empty() || name.find_first_of("\\/:") != std::string::npos) {
        return false;
    }
    char target[512];
    return QueryDosDeviceA(name.c_str(), target, sizeof target) != 0;
}

enum class Use { Log, Trace };

const char* acceptedText(Use use) {
    return use == Use::Log ? "; the log takes a regular file or NUL"
                           : "; the trace takes a regular file or NUL";
}

std::string kindOf(DWORD type) {
    switch (type) {
        case FILE_TYPE_PIPE:
            return "a pipe";
        case FILE_TYPE_CHAR:
            return "a device";
        default:
            return "not a regular file";
    }
}

// The system's words for a Windows error, in the C library's terms where there are some.
std::string errorText(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return std::strerror(ENOENT);
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return std::strerror(EACCES);
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return std::strerror(ENOSPC);
        case ERROR_FILENAME_EXCED_RANGE:
            return std::strerror(ENAMETOOLONG);
        default:
            return "Windows error " + std::to_string(code);
    }
}

// An output opened for writing and judged on its handle; -1 with the reason in `error`.
// `created`: the file did not exist and this call made it.
int openOutput(const std::string& path, Use use, const std::vector<ProtectedFile>& protectedFiles,
               bool& created, std::string& error) {
    created = false;
    const std::string name = resolvedName(path);
    for (const ProtectedFile& p : protectedFiles) {
        if (!name.empty() && name == p.path) {
            error = "it is " + p.what;
            return -1;
        }
    }
    if (isDeviceName(path) && !isNullName(path)) {
        error = "it is " + kindOf(FILE_TYPE_CHAR) + acceptedText(use);
        return -1;
    }
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        error = std::strerror(EISDIR);
        return -1;
    }
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, share, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        created = true;
    } else if (GetLastError() == ERROR_FILE_EXISTS) {
        file = CreateFileA(path.c_str(), GENERIC_WRITE, share, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (file == INVALID_HANDLE_VALUE) {
        error = errorText(GetLastError());
        return -1;
    }
    const DWORD type = GetFileType(file);
    const bool null = isNullName(path);
    const FileIdentity id = identityOfHandle(file);
    if (type != FILE_TYPE_DISK && !null) {
        error = "it is " + kindOf(type) + acceptedText(use);
    } else if (!null) {
        for (const ProtectedFile& p : protectedFiles) {
            if (id.sameAs(p.identity)) {
                error = "it is " + p.what;
            }
        }
    }
    if (!error.empty()) {
        CloseHandle(file);
        if (created) {
            DeleteFileA(path.c_str());
            created = false;
        }
        return -1;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_BINARY);
    if (fd < 0) {
        error = std::strerror(EMFILE);
        CloseHandle(file);
        return -1;
    }
    return fd;
}

// Whether the volume of `fd` has room for `bytes` now (for this user, its quota
// included). Nothing is written.
bool hasRoom(int fd, std::size_t bytes, std::string& error) {
    char name[MAX_PATH * 2] = {};
    const DWORD length =
        GetFinalPathNameByHandleA(handleOf(fd), name, sizeof name, VOLUME_NAME_DOS);
    if (length == 0 || length >= sizeof name) {
        return true;  // a volume that does not say: the write will tell
    }
    std::string folder(name, length);
    folder.erase(folder.find_last_of('\\') + 1);
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExA(folder.c_str(), &available, nullptr, nullptr)) {
        return true;
    }
    if (available.QuadPart < bytes) {
        error = std::strerror(ENOSPC);
        return false;
    }
    return true;
}

// The log's lock for one line: other reburn3 processes on the same file wait for it.
class LineLock {
public:
    explicit LineLock(int fd) : m_file(handleOf(fd)) {
        OVERLAPPED whole{};
        LockFileEx(m_file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole);
    }
    ~LineLock() {
        OVERLAPPED whole{};
        UnlockFileEx(m_file, 0, MAXDWORD, MAXDWORD, &whole);
    }
    LineLock(const LineLock&) = delete;
    LineLock& operator=(const LineLock&) = delete;

private:
    HANDLE m_file;
};

}  // namespace

FileIdentity identityOfPath(const std::string& path) {
    // A device has no file identity, and opening a COM port would raise its modem lines.
    if (isDeviceName(path)) {
        return {};
    }
    // No access asked: only the file's information is read (a folder too).
    HANDLE file =
        CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return {};
    }
    const FileIdentity id = identityOfHandle(file);
    CloseHandle(file);
    return id;
}

FileIdentity identityOfDescriptor(int fd) {
    return identityOfHandle(handleOf(fd));
}

std::string fileKindText(mode_t mode) {
    if ((mode & _S_IFMT) == _S_IFIFO) {
        return "a pipe";
    }
    if ((mode & _S_IFMT) == _S_IFCHR) {
        return "a device";
    }
    if ((mode & _S_IFMT) == _S_IFDIR) {
        return "a folder";
    }
    return "not a regular file";
}

AppendLog::~AppendLog() {
    if (m_fd >= 0) {
        _close(m_fd);
    }
}

bool AppendLog::open(const std::string& path, const std::vector<ProtectedFile>& protectedFiles,
                     std::string& error) {
    m_fd = openOutput(path, Use::Log, protectedFiles, m_created, error);
    if (m_fd < 0) {
        return false;
    }
    m_identity = identityOfDescriptor(m_fd);
    m_regular = GetFileType(handleOf(m_fd)) == FILE_TYPE_DISK;
    m_appendOnly = false;
    return true;
}

bool AppendLog::canTake(std::size_t bytes, std::string& error) {
    if (m_fd < 0) {
        error = std::strerror(EBADF);
        return false;
    }
    return !m_regular || hasRoom(m_fd, bytes, error);
}

bool AppendLog::append(const std::string& line, std::string& error) {
    if (m_fd < 0) {
        error = std::strerror(EBADF);
        return false;
    }
    const std::string record = line + '\n';
    HANDLE file = handleOf(m_fd);
    DWORD written = 0;
    if (!m_regular) {
        // NUL: nothing to keep, nothing to flush.
        const bool ok = WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written,
                                  nullptr) != 0;
        error = ok ? std::string() : errorText(GetLastError());
        return ok;
    }
    const LineLock lock(m_fd);
    // The end is taken under the lock: another station's line may have gone in since.
    LARGE_INTEGER end{};
    if (!SetFilePointerEx(file, LARGE_INTEGER{}, &end, FILE_END)) {
        error = errorText(GetLastError());
        return false;
    }
    if (!hasRoom(m_fd, record.size(), error)) {
        return false;
    }
    std::string why;
    if (!WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr)) {
        why = errorText(GetLastError());
    } else if (written != record.size()) {
        why = std::strerror(ENOSPC);  // the disk or a quota took only part of it
    } else if (!FlushFileBuffers(file)) {
        why = errorText(GetLastError());
    }
    if (why.empty()) {
        return true;
    }
    error = why;
    // Whatever part of the line went in is taken out again.
    if (written > 0 && (!SetFilePointerEx(file, end, nullptr, FILE_BEGIN) || !SetEndOfFile(file))) {
        error += "; the part written could not be taken back";
        return false;
    }
    FlushFileBuffers(file);
    return false;
}

bool TraceFile::open(const std::string& path, const std::vector<ProtectedFile>& protectedFiles,
                     std::string& error) {
    const int fd = openOutput(path, Use::Trace, protectedFiles, m_created, error);
    if (fd < 0) {
        return false;
    }
    m_identity = identityOfDescriptor(fd);
    m_cuttable = GetFileType(handleOf(fd)) == FILE_TYPE_DISK;
    m_file = _fdopen(fd, "wb");
    if (m_file == nullptr) {
        error = std::strerror(errno);
        _close(fd);
        if (m_created) {
            DeleteFileA(path.c_str());
        }
        return false;
    }
    return true;
}

void TraceFile::begin() {
    if (m_file != nullptr && m_cuttable && _chsize_s(_fileno(m_file), 0) == 0) {
        std::rewind(m_file);
    }
}

}  // namespace reburn3::run
