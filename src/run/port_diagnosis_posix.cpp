// SPDX-License-Identifier: Apache-2.0
#include "run/port_diagnosis.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "adapters/port_descriptor.h"
#include "adapters/qt_serial_driver.h"
#include "run/verdict.h"
#include "serial/port_map.h"

namespace reburn3::run {

namespace {

std::string programOf(const std::string& pid) {
    std::ifstream comm("/proc/" + pid + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

std::string describeHolder(const std::string& pid) {
    const std::string program = programOf(pid);
    return "PID " + pid + (program.empty() ? std::string() : " (" + displayName(program) + ")");
}

// A UUCP lock file, as serial programs leave them: /var/lock/LCK..ttyUSB0 holding the
// PID, as text or as a binary int.
std::string lockFileHolder(const std::string& device) {
    const std::string name = std::filesystem::path(device).filename().string();
    // Qt's own lock goes to the temporary folder where the lock folders cannot be written.
    const char* tmp = std::getenv("TMPDIR");
    const std::string temporary = tmp != nullptr && *tmp != '\0' ? std::string(tmp) + "/" : "/tmp/";
    for (const std::string& folder :
         {std::string("/var/lock/"), std::string("/run/lock/"), temporary}) {
        std::ifstream lock(folder + "LCK.." + name);
        long pid = 0;
        if (lock >> pid && pid > 0 && ::kill(static_cast<pid_t>(pid), 0) == 0) {
            return describeHolder(std::to_string(pid));
        }
    }
    return {};
}

// A process holding an flock() or fcntl() lock on the device, from /proc/locks: lines
// such as "1: FLOCK  ADVISORY  WRITE 7937 00:1a:3 0 EOF" (PID, then the file system's
// major:minor in hex and the inode).
std::string kernelLockHolder(const std::string& device) {
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0) {
        return {};
    }
    char id[64];
    std::snprintf(id, sizeof id, "%02x:%02x:%llu", ::major(st.st_dev), ::minor(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, pid, file;
        if (fields >> number >> kind >> mode >> access >> pid >> file && file == id) {
            return describeHolder(pid);
        }
    }
    return {};
}

// A process with a descriptor on the device, from /proc/PID/fd.
std::string openFileHolder(const std::string& device, int self) {
    std::error_code error;
    const std::filesystem::path target = std::filesystem::canonical(device, error);
    if (error) {
        return {};
    }
    for (std::filesystem::directory_iterator proc("/proc", error), end; !error && proc != end;
         proc.increment(error)) {
        const std::string pid = proc->path().filename().string();
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos ||
            pid == std::to_string(self)) {
            continue;
        }
        std::error_code fdError;
        for (std::filesystem::directory_iterator fd(proc->path() / "fd", fdError), fdEnd;
             !fdError && fd != fdEnd; fd.increment(fdError)) {
            std::error_code linkError;
            if (std::filesystem::read_symlink(fd->path(), linkError) == target && !linkError) {
                return describeHolder(pid);
            }
        }
    }
    return {};
}

}  // namespace

std::string portHolder(const std::string& device, int self) {
    std::string holder = kernelLockHolder(device);
    if (holder.empty()) {
        holder = lockFileHolder(device);
    }
    return holder.empty() ? openFileHolder(device, self) : holder;
}

bool portLocked(const std::string& device) {
    return !kernelLockHolder(device).empty() || !lockFileHolder(device).empty();
}

std::string diagnosePort(const std::string& port, const std::string& device, int code) {
    if (code == QtSerialDriver::kErrNoDevice) {
        if (const std::optional<int> com = parseComName(port)) {
            const std::string n = std::to_string(*com);
            return "COM" + n + " is " + displayName(device) +
                   ", which does not exist; set ORX716_COM" + n + " to choose another device";
        }
        return displayName(device) + " does not exist";
    }
    if (code == QtSerialDriver::kErrPermission) {
        const std::string why = permissionDiagnosis(device);
        return "permission denied" + (why.empty() ? std::string() : "; " + why);
    }
    if (code == QtSerialDriver::kErrInUse) {
        const std::string holder = portHolder(device, static_cast<int>(::getpid()));
        if (!holder.empty()) {
            return displayName(device) + " is held by " + holder;
        }
    }
    return {};
}

}  // namespace reburn3::run
