// SPDX-License-Identifier: Apache-2.0
#include "cli/standard_output.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdio_ext.h>
#include <memory>

namespace reburn3::cli {

int terminalColumns(std::FILE* stream) {
    winsize size{};
    if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return 0;
}

long writeStandardOutput(const char* data, std::size_t size) {
    return ::write(STDOUT_FILENO, data, size);
}

void cutToLastWholeLine() {
    __fpurge(stdout);
    std::clearerr(stdout);
    struct stat st {};
    const off_t end = ::lseek(STDOUT_FILENO, 0, SEEK_CUR);
    if (end <= 0 || ::fstat(STDOUT_FILENO, &st) != 0 || !S_ISREG(st.st_mode)) {
        return;
    }
    // Standard output is usually open for writing only: it is read through a descriptor
    // of its own.
    const int reader = ::open("/proc/self/fd/1", O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (reader < 0) {
        return;
    }
    const std::shared_ptr<void> closeReader(nullptr, [reader](void*) { ::close(reader); });
    off_t at = end;
    char block[4096];
    while (at > 0) {
        const off_t from =
            at > static_cast<off_t>(sizeof block) ? at - static_cast<off_t>(sizeof block) : 0;
        const ssize_t got = ::pread(reader, block, static_cast<std::size_t>(at - from), from);
        if (got <= 0) {
            return;
        }
        for (ssize_t i = got; i > 0; --i) {
            if (block[i - 1] == '\n') {
                at = from + i;
                if (at != end && ::ftruncate(STDOUT_FILENO, at) == 0) {
                    ::lseek(STDOUT_FILENO, at, SEEK_SET);
                }
                return;
            }
        }
        at = from;
    }
    if (::ftruncate(STDOUT_FILENO, 0) == 0) {
        ::lseek(STDOUT_FILENO, 0, SEEK_SET);
    }
}

}  // namespace reburn3::cli
