// SPDX-License-Identifier: Apache-2.0
#include "gui/sys_info.h"

#include <cstdint>

#include "base/messages.h"

namespace reburn3 {

namespace {

constexpr const char* kMsinfoKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
constexpr const char* kMsinfoPathValue = "PATH";
constexpr const char* kToolsLocationKey = "SOFTWARE\\Microsoft\\Shared Tools Location";
constexpr const char* kToolsLocationValue = "MSINFO";
constexpr const char* kMsinfoProgram = "\\MSINFO32.EXE";

// The number a 32-bit value holds, read from its bytes as stored (least significant
// first), in decimal.
std::string dwordText(const std::vector<std::uint8_t>& bytes) {
    std::uint64_t value = 0;
    for (std::size_t i = bytes.size(); i > 0; --i) {
        value = (value << 8U) | bytes[i - 1];
    }
    return std::to_string(value);
}

}  // namespace

bool GetKeyValue(Registry& registry, std::uint32_t KeyRoot, const std::string& KeyName,
                 const std::string& SubKeyRef, std::string& KeyVal) {
    Registry::Handle key = 0;
    if (registry.RegOpenKeyExA(KeyRoot, KeyName, 0, Registry::kKeyAllAccess, key) != 0) {
        KeyVal.clear();
        return false;
    }

    std::vector<std::uint8_t> buffer(Registry::kValueBufferSize, 0);
    std::uint32_t type = 0;
    if (registry.RegQueryValueExA(key, SubKeyRef, type, buffer) != 0) {
        KeyVal.clear();
        registry.RegCloseKey(key);
        return false;
    }
    if (buffer.empty()) {
        // Nothing to take apart; the caller decides what that means.
        registry.RegCloseKey(key);
        throw RegistryValueError("registry value holds no bytes");
    }

    // A string is usually stored with its terminating zero; drop it (once).
    if (buffer.back() == 0) {
        buffer.pop_back();
    }

    if (type == Registry::kRegSz) {
        KeyVal.assign(buffer.begin(), buffer.end());
    } else if (type == Registry::kRegDword) {
        KeyVal = dwordText(buffer);
    }
    registry.RegCloseKey(key);
    return true;
}

void StartSysInfo(SysInfoPlatform& platform) {
    try {
        std::string path;
        if (GetKeyValue(platform.registry(), Registry::kHkeyLocalMachine, kMsinfoKey,
                        kMsinfoPathValue, path)) {
            // The path value names the program itself; it is taken as it stands.
        } else if (GetKeyValue(platform.registry(), Registry::kHkeyLocalMachine, kToolsLocationKey,
                               kToolsLocationValue, path) &&
                   platform.fileExists(path + kMsinfoProgram)) {
            path += kMsinfoProgram;
        } else {
            platform.showMessage(std::string(text::kSysInfoUnavailable));
            return;
        }
        if (platform.startProgram(path)) {
            return;
        }
    } catch (const std::exception&) {
        // Any failure of the lookup ends as "unavailable", like a missing key.
    }
    platform.showMessage(std::string(text::kSysInfoUnavailable));
}

}  // namespace reburn3
