// SPDX-License-Identifier: Apache-2.0
// The registry lookup behind "System Info...", against a registry in memory.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "gui/sys_info.h"

namespace reburn3::testing {
namespace {

class FakeRegistry final : public Registry {
public:
    struct Value {
        std::uint32_t type;
        std::vector<std::uint8_t> bytes;
    };
    // key path -> value name -> value
    std::map<std::string, std::map<std::string, Value>> keys;
    std::set<Handle> open;
    std::vector<std::string> queried;

    void put(const std::string& key, const std::string& name, std::uint32_t type,
             std::vector<std::uint8_t> bytes) {
        keys[key][name] = Value{type, std::move(bytes)};
    }
    static std::vector<std::uint8_t> sz(const std::string& text, bool terminated = true) {
        std::vector<std::uint8_t> out(text.begin(), text.end());
        if (terminated) {
            out.push_back(0);
        }
        return out;
    }

    std::int32_t RegOpenKeyExA(std::uint32_t root, const std::string& subKey, std::uint32_t options,
                               std::uint32_t access, Handle& key) override {
        EXPECT_EQ(root, kHkeyLocalMachine);
        EXPECT_EQ(options, 0U);
        EXPECT_EQ(access, 0x2003FU);
        const auto it = keys.find(subKey);
        if (it == keys.end()) {
            return 2;
        }
        key = m_next++;
        m_paths[key] = subKey;
        open.insert(key);
        return 0;
    }
    std::int32_t RegQueryValueExA(Handle key, const std::string& valueName, std::uint32_t& type,
                                  std::vector<std::uint8_t>& data) override {
        EXPECT_EQ(data.size(), 1024U);
        queried.push_back(m_paths.at(key) + "|" + valueName);
        const auto& values = keys.at(m_paths.at(key));
        const auto it = values.find(valueName);
        if (it == values.end()) {
            return 2;
        }
        if (it->second.bytes.size() > data.size()) {
            return 234;  // more data than room
        }
        type = it->second.type;
        data = it->second.bytes;
        return 0;
    }
    std::int32_t RegCloseKey(Handle key) override {
        open.erase(key);
        return 0;
    }

private:
    Handle m_next = 100;
    std::map<Handle, std::string> m_paths;
};

const std::string kKey = "SOFTWARE\\Test";

class GetKeyValueTest : public ::testing::Test {
protected:
    bool read(const std::string& name, std::string& out) {
        return GetKeyValue(reg, Registry::kHkeyLocalMachine, kKey, name, out);
    }
    FakeRegistry reg;
};

TEST_F(GetKeyValueTest, MissingKeyOrValueGivesFalseAndEmptyText) {
    std::string value = "old";
    EXPECT_FALSE(read("X", value));
    EXPECT_EQ(value, "");
    reg.put(kKey, "other", Registry::kRegSz, FakeRegistry::sz("x"));
    value = "old";
    EXPECT_FALSE(read("X", value));
    EXPECT_EQ(value, "");
    EXPECT_TRUE(reg.open.empty());
}

TEST_F(GetKeyValueTest, StringsLoseOneTrailingZeroOnly) {
    reg.put(kKey, "with", Registry::kRegSz, FakeRegistry::sz("C:\\a.exe"));
    reg.put(kKey, "without", Registry::kRegSz, FakeRegistry::sz("C:\\b.exe", false));
    reg.put(kKey, "zero", Registry::kRegSz, {0});
    reg.put(kKey, "two", Registry::kRegSz, {'a', 0, 0});
    std::string value;
    EXPECT_TRUE(read("with", value));
    EXPECT_EQ(value, "C:\\a.exe");
    EXPECT_TRUE(read("without", value));
    EXPECT_EQ(value, "C:\\b.exe");
    value = "old";
    EXPECT_TRUE(read("zero", value));
    EXPECT_EQ(value, "");
    EXPECT_TRUE(read("two", value));
    EXPECT_EQ(value, std::string("a\0", 2));
    EXPECT_TRUE(reg.open.empty());
}

TEST_F(GetKeyValueTest, NumbersBecomeDecimalOtherTypesLeaveTheTextAlone) {
    reg.put(kKey, "dword", Registry::kRegDword, {0x0A, 0x01, 0x00, 0x00});
    reg.put(kKey, "dwordZero", Registry::kRegDword, {0, 0, 0, 0});
    reg.put(kKey, "binary", 3, {1, 2, 3});
    reg.put(kKey, "multi", 7, FakeRegistry::sz("x"));
    std::string value;
    EXPECT_TRUE(read("dword", value));
    EXPECT_EQ(value, "266");
    EXPECT_TRUE(read("dwordZero", value));
    EXPECT_EQ(value, "0");
    value = "kept";
    EXPECT_TRUE(read("binary", value));
    EXPECT_EQ(value, "kept");
    EXPECT_TRUE(read("multi", value));
    EXPECT_EQ(value, "kept");
    EXPECT_TRUE(reg.open.empty());
}

TEST_F(GetKeyValueTest, AValueTooLargeFailsAndAnEmptyOneIsAnError) {
    reg.put(kKey, "big", Registry::kRegSz, std::vector<std::uint8_t>(1025, 'x'));
    reg.put(kKey, "exact", Registry::kRegSz, std::vector<std::uint8_t>(1024, 'x'));
    reg.put(kKey, "empty", Registry::kRegSz, {});
    std::string value = "old";
    EXPECT_FALSE(read("big", value));
    EXPECT_EQ(value, "");
    EXPECT_TRUE(read("exact", value));
    EXPECT_EQ(value.size(), 1024U);
    EXPECT_THROW(read("empty", value), RegistryValueError);
    EXPECT_TRUE(reg.open.empty());
}

class FakePlatform final : public SysInfoPlatform {
public:
    Registry& registry() override { return reg; }
    bool fileExists(const std::string& path) override {
        checked.push_back(path);
        return files.count(path) > 0;
    }
    bool startProgram(const std::string& path) override {
        started.push_back(path);
        return startWorks;
    }
    void showMessage(const std::string& text) override { messages.push_back(text); }

    FakeRegistry reg;
    std::set<std::string> files;
    bool startWorks = true;
    std::vector<std::string> checked, started, messages;
};

const std::string kMsinfo = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
const std::string kLocation = "SOFTWARE\\Microsoft\\Shared Tools Location";
const std::string kUnavailable = "System Information Is Unavailable At This Time";

TEST(StartSysInfoTest, StartsThePathValueWithoutLookingForIt) {
    FakePlatform p;
    p.reg.put(kMsinfo, "PATH", Registry::kRegSz, FakeRegistry::sz("C:\\x\\msinfo32.exe"));
    StartSysInfo(p);
    EXPECT_EQ(p.started, std::vector<std::string>{"C:\\x\\msinfo32.exe"});
    EXPECT_TRUE(p.checked.empty());
    EXPECT_TRUE(p.messages.empty());
}

TEST(StartSysInfoTest, APathThatWillNotStartIsUnavailableAndTheSecondKeyIsNotAsked) {
    FakePlatform p;
    p.startWorks = false;
    p.reg.put(kMsinfo, "PATH", Registry::kRegSz, FakeRegistry::sz("C:\\gone.exe"));
    p.reg.put(kLocation, "MSINFO", Registry::kRegSz, FakeRegistry::sz("C:\\tools"));
    p.files.insert("C:\\tools\\MSINFO32.EXE");
    StartSysInfo(p);
    EXPECT_EQ(p.messages, std::vector<std::string>{kUnavailable});
    EXPECT_EQ(p.reg.queried, std::vector<std::string>{kMsinfo + "|PATH"});
}

TEST(StartSysInfoTest, FallsBackToTheToolsFolderOnlyWhenTheProgramIsThere) {
    FakePlatform p;
    p.reg.put(kLocation, "MSINFO", Registry::kRegSz, FakeRegistry::sz("C:\\tools"));
    StartSysInfo(p);
    EXPECT_TRUE(p.started.empty());
    EXPECT_EQ(p.checked, std::vector<std::string>{"C:\\tools\\MSINFO32.EXE"});
    EXPECT_EQ(p.messages, std::vector<std::string>{kUnavailable});

    p.messages.clear();
    p.files.insert("C:\\tools\\MSINFO32.EXE");
    StartSysInfo(p);
    EXPECT_EQ(p.started, std::vector<std::string>{"C:\\tools\\MSINFO32.EXE"});
    EXPECT_TRUE(p.messages.empty());
}

TEST(StartSysInfoTest, NothingInTheRegistryOrAnEmptyValueIsUnavailable) {
    FakePlatform p;
    StartSysInfo(p);
    EXPECT_EQ(p.messages, std::vector<std::string>{kUnavailable});
    EXPECT_TRUE(p.started.empty());

    FakePlatform q;
    q.reg.put(kMsinfo, "PATH", Registry::kRegSz, {});
    StartSysInfo(q);
    EXPECT_EQ(q.messages, std::vector<std::string>{kUnavailable});
    EXPECT_TRUE(q.started.empty());
    EXPECT_TRUE(q.reg.open.empty());
}

}  // namespace
}  // namespace reburn3::testing
