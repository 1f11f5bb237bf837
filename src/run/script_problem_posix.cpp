// SPDX-License-Identifier: Apache-2.0
#include "run/script_problem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "run/output_files.h"
#include "script/script_stream.h"

namespace reburn3::run {

std::string scriptOpenProblem(const std::string& path) {
    const std::string resolved = resolveScriptPath(path);
    // Judged by its kind before it is opened: opening a named pipe would wait for a
    // writer, and opening a serial device would raise its modem lines.
    struct stat named {};
    if (::stat(resolved.c_str(), &named) == 0 && !S_ISREG(named.st_mode)) {
        return S_ISDIR(named.st_mode)
                   ? std::strerror(EISDIR)
                   : "it is " + fileKindText(named.st_mode) + ", not a regular file";
    }
    const int fd = ::open(resolved.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return std::strerror(errno);
    }
    struct stat st {};
    std::string problem;
    if (::fstat(fd, &st) != 0) {
        problem = std::strerror(errno);
    } else if (S_ISDIR(st.st_mode)) {
        problem = std::strerror(EISDIR);
    } else if (!S_ISREG(st.st_mode)) {
        problem = "it is " + fileKindText(st.st_mode) + ", not a regular file";
    }
    ::close(fd);
    return problem;
}

}  // namespace reburn3::run
