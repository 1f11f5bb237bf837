// SPDX-License-Identifier: Apache-2.0
// GetKeyValue and StartSysInfo against the real registry: values are written with the
// system's own `reg` program, then read back through the single-byte-character calls.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "gui/platform_registry.h"
#include "gui/sys_info.h"

namespace reburn3::testing {
namespace {

const std::string kKey = "SOFTWARE\\reburn3-registry-test";
const std::string kMsinfo = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
const std::string kLocation = "SOFTWARE\\Microsoft\\Shared Tools Location";

// Runs `reg ARGS` and fails the test when it fails.
void reg(const std::string& arguments) {
    const std::string command = "reg " + arguments + " >NUL 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

void regDelete(const std::string& key) {
    const std::string command = "reg delete \"HKLM\\" + key + "\" /f >NUL 2>&1";
    (void)std::system(command.c_str());
}

// Values `reg add` cannot write, such as a string stored without its terminating zero,
// go in through a .reg file. In the single-byte format (REGEDIT4) hex(1) gives a string's
// bytes as the single-byte calls return them.
void regImport(const std::string& lines) {
    const std::string file = "reburn3-registry-test.reg";
    {
        std::ofstream out(file, std::ios::binary);
        out << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\" << kKey << "]\r\n" << lines;
    }
    reg("import " + file);
    std::remove(file.c_str());
}

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        regDelete(kKey);
        reg("add \"HKLM\\" + kKey + "\" /f");
    }
    void TearDown() override { regDelete(kKey); }

    bool read(const std::string& name, std::string& value) {
        return GetKeyValue(*m_registry, Registry::kHkeyLocalMachine, kKey, name, value);
    }

    std::unique_ptr<Registry> m_registry = platformRegistry();
};

TEST_F(RegistryTest, AStringLosesItsTerminatingZero) {
    reg("add \"HKLM\\" + kKey + "\" /v Path /t REG_SZ /d \"C:\\Program Files\\x.exe\" /f");
    std::string value = "old";
    EXPECT_TRUE(read("Path", value));
    EXPECT_EQ(value, "C:\\Program Files\\x.exe");
}

TEST_F(RegistryTest, TheTrailingZeroRuleOnStoredBytes) {
    regImport(
        "\"Unterminated\"=hex(1):41,42\r\n"
        "\"OnlyZero\"=hex(1):00\r\n"
        "\"TwoZeros\"=hex(1):41,00,00\r\n");
    std::string value;
    EXPECT_TRUE(read("Unterminated", value));
    EXPECT_EQ(value, "AB");
    value = "old";
    EXPECT_TRUE(read("OnlyZero", value));
    EXPECT_EQ(value, "");
    // Only the last zero goes.
    EXPECT_TRUE(read("TwoZeros", value));
    EXPECT_EQ(value, std::string("A\0", 2));
}

TEST_F(RegistryTest, ANumberBecomesItsDecimalText) {
    reg("add \"HKLM\\" + kKey + "\" /v Count /t REG_DWORD /d 266 /f");
    reg("add \"HKLM\\" + kKey + "\" /v Big /t REG_DWORD /d 0xFFFFFFFF /f");
    std::string value;
    EXPECT_TRUE(read("Count", value));
    EXPECT_EQ(value, "266");
    EXPECT_TRUE(read("Big", value));
    EXPECT_EQ(value, "4294967295");
}

TEST_F(RegistryTest, AnExpandStringIsReadButLeavesTheTextAsItWas) {
    reg("add \"HKLM\\" + kKey + "\" /v Expand /t REG_EXPAND_SZ /d \"%SystemRoot%\\x.exe\" /f");
    std::string value = "kept";
    EXPECT_TRUE(read("Expand", value));
    EXPECT_EQ(value, "kept");
}

TEST_F(RegistryTest, AMissingKeyOrValueGivesFalseAndEmptyText) {
    std::string value = "old";
    EXPECT_FALSE(
        GetKeyValue(*m_registry, Registry::kHkeyLocalMachine, kKey + "\\Missing", "Path", value));
    EXPECT_EQ(value, "");
    value = "old";
    EXPECT_FALSE(read("Missing", value));
    EXPECT_EQ(value, "");
}

TEST_F(RegistryTest, AValueLargerThanTheBufferIsNotRead) {
    reg("add \"HKLM\\" + kKey + "\" /v Long /t REG_SZ /d " + std::string(1100, 'x') + " /f");
    reg("add \"HKLM\\" + kKey + "\" /v Fits /t REG_SZ /d " + std::string(1023, 'y') + " /f");
    std::string value = "old";
    EXPECT_FALSE(read("Long", value));
    EXPECT_EQ(value, "");
    EXPECT_TRUE(read("Fits", value));
    EXPECT_EQ(value, std::string(1023, 'y'));
}

// StartSysInfo with the real registry; starting programs and looking for files recorded.
class RecordingPlatform final : public SysInfoPlatform {
public:
    Registry& registry() override { return *m_registry; }
    bool fileExists(const std::string& path) override {
        checked.push_back(path);
        return false;
    }
    bool startProgram(const std::string& path) override {
        started.push_back(path);
        return true;
    }
    void showMessage(const std::string& text) override { messages.push_back(text); }

    std::vector<std::string> checked, started, messages;

private:
    std::unique_ptr<Registry> m_registry = platformRegistry();
};

TEST(StartSysInfoOnTheRegistry, StartsThePathValueElseSaysItIsUnavailable) {
    regDelete(kMsinfo);
    regDelete(kLocation);
    reg("add \"HKLM\\" + kMsinfo + "\" /v PATH /t REG_SZ /d \"C:\\tools\\msinfo32.exe\" /f");
    RecordingPlatform withPath;
    StartSysInfo(withPath);
    EXPECT_EQ(withPath.started, std::vector<std::string>{"C:\\tools\\msinfo32.exe"});
    EXPECT_TRUE(withPath.messages.empty());

    regDelete(kMsinfo);
    reg("add \"HKLM\\" + kLocation + "\" /v MSINFO /t REG_SZ /d \"C:\\tools\" /f");
    RecordingPlatform withFolder;
    StartSysInfo(withFolder);
    EXPECT_EQ(withFolder.checked, std::vector<std::string>{"C:\\tools\\MSINFO32.EXE"});
    EXPECT_TRUE(withFolder.started.empty());
    EXPECT_EQ(withFolder.messages,
              std::vector<std::string>{"System Information Is Unavailable At This Time"});
    regDelete(kLocation);
}

}  // namespace
}  // namespace reburn3::testing
