// SPDX-License-Identifier: Apache-2.0
// The script file on Windows: one handle, opened once, judged through itself and read at
// explicit positions. Other programs may still read, write, rename or delete the file while
// it is open, as on POSIX systems; the run-start check notices any change.
#include <windows.h>

#include "script/script_file.h"

namespace reburn3 {

namespace {

HANDLE handleOf(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

// Only a file on disk is a script: a folder, a device, a pipe or a console never is.
bool isRegularFile(HANDLE file) {
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    return ::GetFileInformationByHandle(file, &info) != 0 &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

ScriptFile::~ScriptFile() {
    close();
}

bool ScriptFile::open(const std::string& path) {
    close();
    // No security attributes: the handle is not inherited by programs this one starts.
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    if (!isRegularFile(file)) {
        ::CloseHandle(file);
        return false;
    }
    m_handle = reinterpret_cast<std::intptr_t>(file);
    return true;
}

void ScriptFile::close() {
    if (isOpen()) {
        ::CloseHandle(handleOf(m_handle));
        m_handle = kNoHandle;
    }
}

std::size_t ScriptFile::readAt(std::uint64_t offset, char* dst, std::size_t n) {
    std::size_t total = 0;
    while (isOpen() && total < n) {
        const std::uint64_t position = offset + total;
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(position & 0xFFFFFFFFU);
        at.OffsetHigh = static_cast<DWORD>(position >> 32U);
        const std::size_t left = n - total;
        const DWORD want = left > 0x40000000U ? 0x40000000U : static_cast<DWORD>(left);
        DWORD got = 0;
        if (::ReadFile(handleOf(m_handle), dst + total, want, &got, &at) == 0 || got == 0) {
            break;
        }
        total += got;
    }
    return total;
}

}  // namespace reburn3
