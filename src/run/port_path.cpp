// SPDX-License-Identifier: Apache-2.0
#include "run/port_path.h"

#include <filesystem>

namespace reburn3::run {

namespace fs = std::filesystem;

std::string resolvePortPath(const std::string& port) {
    const fs::path path(port);
    std::error_code error;
    if (path.is_absolute()) {
        return port;
    }
    if (port.find('/') != std::string::npos || fs::exists(fs::symlink_status(path, error))) {
        const fs::path absolute = fs::absolute(path, error);
        return error ? port : absolute.lexically_normal().string();
    }
    return "/dev/" + port;
}

}  // namespace reburn3::run
