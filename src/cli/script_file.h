#pragma once

#include <string>

namespace reburn3::cli {

// Why the script cannot be read, in the system's words ("No such file or directory",
// "Permission denied", "Is a directory", "File name too long"); empty when it can.
std::string scriptOpenProblem(const std::string& path);

// The SHA-256 of the script file, lower-case hex; empty when it cannot be read.
std::string sha256Of(const std::string& path);

}  // namespace reburn3::cli
