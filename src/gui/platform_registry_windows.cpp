// SPDX-License-Identifier: Apache-2.0
#include <windows.h>

#include <map>

#include "gui/platform_registry.h"

namespace reburn3 {

namespace {

// The registry itself, through its single-byte-character calls. Open keys are handed out
// as small numbers, since a key handle is wider than the 32 bits callers keep.
class WindowsRegistry final : public Registry {
public:
    WindowsRegistry() = default;
    WindowsRegistry(const WindowsRegistry&) = delete;
    WindowsRegistry& operator=(const WindowsRegistry&) = delete;
    ~WindowsRegistry() override {
        for (auto& entry : m_keys) {
            ::RegCloseKey(entry.second);
        }
    }

    std::int32_t RegOpenKeyExA(std::uint32_t root, const std::string& subKey, std::uint32_t options,
                               std::uint32_t access, Handle& key) override {
        HKEY opened = nullptr;
        const LONG result =
            ::RegOpenKeyExA(rootKey(root), subKey.c_str(), options, access, &opened);
        if (result != ERROR_SUCCESS) {
            return static_cast<std::int32_t>(result);
        }
        key = m_next++;
        m_keys[key] = opened;
        return 0;
    }

    std::int32_t RegQueryValueExA(Handle key, const std::string& valueName, std::uint32_t& type,
                                  std::vector<std::uint8_t>& data) override {
        const auto it = m_keys.find(key);
        if (it == m_keys.end()) {
            return ERROR_INVALID_HANDLE;
        }
        DWORD valueType = 0;
        auto size = static_cast<DWORD>(data.size());
        const LONG result = ::RegQueryValueExA(it->second, valueName.c_str(), nullptr, &valueType,
                                               data.data(), &size);
        if (result != ERROR_SUCCESS) {
            return static_cast<std::int32_t>(result);
        }
        data.resize(size);
        type = valueType;
        return 0;
    }

    std::int32_t RegCloseKey(Handle key) override {
        const auto it = m_keys.find(key);
        if (it == m_keys.end()) {
            return ERROR_INVALID_HANDLE;
        }
        const LONG result = ::RegCloseKey(it->second);
        m_keys.erase(it);
        return static_cast<std::int32_t>(result);
    }

private:
    // The predefined root keys are 32-bit values that the API sign-extends to a handle.
    static HKEY rootKey(std::uint32_t root) {
        return reinterpret_cast<HKEY>(
            static_cast<ULONG_PTR>(static_cast<LONG_PTR>(static_cast<std::int32_t>(root))));
    }

    std::map<Handle, HKEY> m_keys;
    Handle m_next = 1;
};

}  // namespace

std::unique_ptr<Registry> platformRegistry() {
    return std::make_unique<WindowsRegistry>();
}

}  // namespace reburn3
