// SPDX-License-Identifier: Apache-2.0
#include <windows.h>

#include <io.h>

#include <vector>

#include "cli/standard_output.h"

namespace reburn3::cli {

int terminalColumns(std::FILE* stream) {
    HANDLE console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (console == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(console, &info)) {
        return 0;
    }
    return info.srWindow.Right - info.srWindow.Left + 1;
}

long writeStandardOutput(const char* data, std::size_t size) {
    const auto piece = static_cast<unsigned int>(size < (1U << 30) ? size : (1U << 30));
    return _write(1, data, piece);
}

// Standard output is read back through a handle of its own (ReOpenFile), and cut with
// SetEndOfFile. The C runtime has no way to drop what stdio holds: it is let go with the
// error that stopped it.
void cutToLastWholeLine() {
    std::fflush(stdout);
    std::clearerr(stdout);
    HANDLE out = reinterpret_cast<HANDLE>(_get_osfhandle(1));
    LARGE_INTEGER end{};
    if (out == INVALID_HANDLE_VALUE || GetFileType(out) != FILE_TYPE_DISK ||
        !SetFilePointerEx(out, LARGE_INTEGER{}, &end, FILE_CURRENT) || end.QuadPart <= 0) {
        return;
    }
    HANDLE reader =
        ReOpenFile(out, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
    if (reader == INVALID_HANDLE_VALUE) {
        return;
    }
    LONGLONG at = end.QuadPart;
    LONGLONG cut = 0;
    std::vector<char> block(4096);
    bool found = false;
    while (at > 0 && !found) {
        const LONGLONG from = at > 4096 ? at - 4096 : 0;
        LARGE_INTEGER where{};
        where.QuadPart = from;
        DWORD got = 0;
        if (!SetFilePointerEx(reader, where, nullptr, FILE_BEGIN) ||
            !ReadFile(reader, block.data(), static_cast<DWORD>(at - from), &got, nullptr) ||
            got == 0) {
            CloseHandle(reader);
            return;
        }
        for (DWORD i = got; i > 0; --i) {
            if (block[i - 1] == '\n') {
                cut = from + i;
                found = true;
                break;
            }
        }
        at = from;
    }
    CloseHandle(reader);
    if (cut != end.QuadPart) {
        LARGE_INTEGER to{};
        to.QuadPart = cut;
        if (SetFilePointerEx(out, to, nullptr, FILE_BEGIN)) {
            SetEndOfFile(out);
        }
    }
}

}  // namespace reburn3::cli
