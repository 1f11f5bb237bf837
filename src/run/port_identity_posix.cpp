// SPDX-License-Identifier: Apache-2.0
#include "run/port_identity.h"

#include "serial/port_target.h"

#include <fnmatch.h>
#include <glob.h>

#include <QSerialPortInfo>

#include <filesystem>
#include <map>
#include <vector>

namespace reburn3::run {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kSerial = "serial=";
constexpr const char* kLinkFolders[] = {"/dev/serial/by-id", "/dev/serial/by-path"};

std::string canonical(const std::string& path) {
    std::error_code error;
    const fs::path target = fs::canonical(path, error);
    return error ? path : target.string();
}

// Every path that matches a pattern with a '/', in glob(3)'s sorted order.
std::vector<std::string> globbed(const std::string& pattern) {
    std::vector<std::string> out;
    glob_t found{};
    if (::glob(pattern.c_str(), 0, nullptr, &found) == 0) {
        for (std::size_t i = 0; i < found.gl_pathc; ++i) {
            out.emplace_back(found.gl_pathv[i]);
        }
    }
    ::globfree(&found);
    return out;
}

// The links in /dev/serial whose names match `pattern`.
std::vector<std::string> linksNamed(const std::string& pattern) {
    std::vector<std::string> out;
    for (const char* folder : kLinkFolders) {
        for (const std::string& path : globbed(std::string(folder) + "/*")) {
            const std::string name = fs::path(path).filename().string();
            if (::fnmatch(pattern.c_str(), name.c_str(), 0) == 0) {
                out.push_back(path);
            }
        }
    }
    return out;
}

// A stable name of `device`: its link in /dev/serial/by-id, else the device.
std::string stableName(const std::string& device) {
    for (const std::string& link : globbed(std::string(kLinkFolders[0]) + "/*")) {
        if (canonical(link) == canonical(device)) {
            return link;
        }
    }
    return device;
}

// The devices with a USB serial number that matches `pattern`.
std::vector<std::string> devicesWithSerial(const std::string& pattern) {
    std::vector<std::string> out;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        const std::string serial = info.serialNumber().toStdString();
        if (!serial.empty() && ::fnmatch(pattern.c_str(), serial.c_str(), 0) == 0) {
            out.push_back(stableName(info.systemLocation().toStdString()));
        }
    }
    return out;
}

}  // namespace

bool namesByIdentity(const std::string& port) {
    return namesAnIdentity(port);
}

std::optional<std::string> resolveIdentity(const std::string& port, std::string& error) {
    std::vector<std::string> matches;
    if (port.rfind(kSerial, 0) == 0) {
        matches = devicesWithSerial(port.substr(kSerial.size()));
    } else if (port.find('/') != std::string::npos) {
        matches = globbed(port);
    } else {
        matches = linksNamed(port);
    }
    // Two names of one device (by-id and by-path) are one match, under its first name.
    std::map<std::string, std::string> byDevice;
    std::vector<std::string> names;
    for (const std::string& name : matches) {
        if (byDevice.emplace(canonical(name), name).second) {
            names.push_back(name);
        }
    }
    return theOneMatch(names, port, error);
}

}  // namespace reburn3::run
