// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace reburn3 {

// The few registry calls the About box makes, in the shape of the Windows API they
// stand for, so that the lookup can run against a fake in tests and against nothing
// at all where the platform keeps no registry.
class Registry {
public:
    using Handle = std::uint32_t;

    static constexpr std::uint32_t kHkeyLocalMachine = 0x80000002U;
    static constexpr std::uint32_t kKeyAllAccess = 0x2003FU;
    static constexpr std::uint32_t kRegSz = 1;
    static constexpr std::uint32_t kRegDword = 4;
    static constexpr std::size_t kValueBufferSize = 1024;

    virtual ~Registry() = default;

    // Opens KeyName under the root key. Returns 0 and the open key on success.
    virtual std::int32_t RegOpenKeyExA(std::uint32_t root, const std::string& subKey,
                                       std::uint32_t options, std::uint32_t access,
                                       Handle& key) = 0;
    // Reads a value into data, whose size on entry is the room offered. On success
    // returns 0, the value's type, and data cut to the bytes written. A value larger
    // than the room offered fails.
    virtual std::int32_t RegQueryValueExA(Handle key, const std::string& valueName,
                                          std::uint32_t& type, std::vector<std::uint8_t>& data) = 0;
    virtual std::int32_t RegCloseKey(Handle key) = 0;
};

// Raised by GetKeyValue when a value cannot be taken apart (a value of no bytes).
class RegistryValueError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads one registry value as text into KeyVal. Returns false, with KeyVal empty,
// when the key or the value is missing. A string value loses one trailing zero byte;
// a 32-bit number becomes its decimal text; a value of any other type leaves KeyVal
// as it was and still counts as read.
bool GetKeyValue(Registry& registry, std::uint32_t KeyRoot, const std::string& KeyName,
                 const std::string& SubKeyRef, std::string& KeyVal);

// What starting the system-information program needs from the platform besides the
// registry.
class SysInfoPlatform {
public:
    virtual ~SysInfoPlatform() = default;
    virtual Registry& registry() = 0;
    virtual bool fileExists(const std::string& path) = 0;
    // Starts the program in a normal window with the focus, without waiting.
    // Returns false when it could not be started.
    virtual bool startProgram(const std::string& path) = 0;
    // Shows a modal message box with an OK button, titled with the application title.
    virtual void showMessage(const std::string& text) = 0;
};

// Finds and starts the system-information program, or says it is unavailable.
void StartSysInfo(SysInfoPlatform& platform);

// A registry that holds nothing: every key is missing. Used where the platform has
// no registry, so that "System Info..." reports the program unavailable.
class EmptyRegistry final : public Registry {
public:
    std::int32_t RegOpenKeyExA(std::uint32_t, const std::string&, std::uint32_t, std::uint32_t,
                               Handle& key) override {
        key = 0;
        return kFileNotFound;
    }
    std::int32_t RegQueryValueExA(Handle, const std::string&, std::uint32_t&,
                                  std::vector<std::uint8_t>&) override {
        return kFileNotFound;
    }
    std::int32_t RegCloseKey(Handle) override { return 0; }

private:
    static constexpr std::int32_t kFileNotFound = 2;
};

}  // namespace reburn3
