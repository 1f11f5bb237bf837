// SPDX-License-Identifier: Apache-2.0
#include "cli/script_problem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "script/script_stream.h"

namespace reburn3::cli {

std::string scriptOpenProblem(const std::string& path) {
    const std::string resolved = resolveScriptPath(path);
    const int fd = ::open(resolved.c_str(), O_RDONLY | O_CLOEXEC);
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
        problem = "not a regular file";
    }
    ::close(fd);
    return problem;
}

}  // namespace reburn3::cli
