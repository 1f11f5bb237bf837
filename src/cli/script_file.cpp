#include "cli/script_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QFile>

#include <cerrno>
#include <cstring>

#include "script/script_stream.h"

namespace reburn3::cli {

std::string sha256Of(const std::string& path) {
    QFile file(QString::fromLocal8Bit(resolveScriptPath(path).c_str()));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result().toHex().toStdString();
}

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
    }
    ::close(fd);
    return problem;
}

}  // namespace reburn3::cli
