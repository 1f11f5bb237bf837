// SPDX-License-Identifier: Apache-2.0
#include <windows.h>

#include <cerrno>
#include <cstring>

#include "run/script_problem.h"
#include "script/script_stream.h"

namespace reburn3::run {

// Judged by its attributes before it is opened, then by the open handle's type: a COM
// port or a pipe is no script, and opening a COM port would raise its modem lines.
std::string scriptOpenProblem(const std::string& path) {
    const std::string resolved = resolveScriptPath(path);
    const DWORD attributes = GetFileAttributesA(resolved.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return std::strerror(EISDIR);
    }
    HANDLE file = CreateFileA(resolved.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        switch (GetLastError()) {
            case ERROR_FILE_NOT_FOUND:
            case ERROR_PATH_NOT_FOUND:
            case ERROR_INVALID_NAME:
                return std::strerror(ENOENT);
            case ERROR_FILENAME_EXCED_RANGE:
                return std::strerror(ENAMETOOLONG);
            default:
                return std::strerror(EACCES);
        }
    }
    const DWORD type = GetFileType(file);
    CloseHandle(file);
    if (type == FILE_TYPE_DISK) {
        return {};
    }
    return type == FILE_TYPE_PIPE ? "it is a pipe, not a regular file"
                                  : "it is a device, not a regular file";
}

}  // namespace reburn3::run
