// SPDX-License-Identifier: Apache-2.0
// Windows paths through the script name taken from the command line and through the
// script opening: drive letters, a dot in a folder name, mixed-case extensions, UNC names.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app/startup.h"
#include "script/script_stream.h"

namespace reburn3::testing {
namespace {

namespace fs = std::filesystem;

TEST(WindowsScriptName, EverythingUpToTheFileNamesFirstDotThenPF3) {
    const std::pair<std::string, std::string> table[] = {
        {"C:\\rel2.5\\image.pf3", "C:\\rel2.5\\image.PF3"},
        {"C:\\fw\\image.Pf3", "C:\\fw\\image.PF3"},
        {"\\\\server\\share\\fw\\image.pf3", "\\\\server\\share\\fw\\image.PF3"},
        {"\\\\server\\share.2\\image.pf3", "\\\\server\\share.2\\image.PF3"},
        {"\\\\?\\C:\\fw\\image.pf3", "\\\\?\\C:\\fw\\image.PF3"},
        {"\"C:\\Program Files\\fw\\image.pf3\"", "\"C:\\Program Files\\fw\\image.PF3"},
    };
    for (const auto& [commandLine, name] : table) {
        EXPECT_EQ(DeriveScriptName(commandLine), name) << commandLine;
    }
}

class WindowsScriptOpening : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder = fs::temp_directory_path() / "reburn3 paths";
        fs::remove_all(m_folder);
        fs::create_directories(m_folder / "rel2.5");
        write(m_folder / "rel2.pf3", "T01:");
        write(m_folder / "rel2.5" / "image.Pf3", "T02:");
    }
    void TearDown() override { fs::remove_all(m_folder); }

    static void write(const fs::path& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    // The bytes the script stream reads from `path`, or "(not opened)".
    static std::string contentsThrough(const std::string& path) {
        ScriptStream stream;
        if (!stream.open(path)) {
            return "(not opened)";
        }
        char buffer[16] = {};
        return std::string(buffer, stream.read(buffer, sizeof buffer));
    }

    std::string folder() const { return m_folder.string(); }

private:
    fs::path m_folder;
};

TEST_F(WindowsScriptOpening, TheNameFromTheCommandLineOpensTheScript) {
    // "...\rel2.5\image.pf3" on the command line names "...\rel2.5\image.PF3": the file
    // image.Pf3 in the folder rel2.5, not rel2.pf3 beside it.
    const std::string name = DeriveScriptName(folder() + "\\rel2.5\\image.pf3");
    EXPECT_EQ(name, folder() + "\\rel2.5\\image.PF3");
    EXPECT_EQ(contentsThrough(name), "T02:");
}

TEST_F(WindowsScriptOpening, AnExtensionInAnyCaseOpensTheFile) {
    for (const char* extension : {".Pf3", ".PF3", ".pf3", ".pF3"}) {
        EXPECT_EQ(contentsThrough(folder() + "\\rel2.5\\image" + extension), "T02:") << extension;
    }
}

TEST_F(WindowsScriptOpening, UncAndForwardSlashNamesOpenTheScript) {
    EXPECT_EQ(contentsThrough("\\\\?\\" + folder() + "\\rel2.pf3"), "T01:");
    std::string forward = folder() + "/rel2.5/image.PF3";
    EXPECT_EQ(contentsThrough(forward), "T02:");
    EXPECT_EQ(contentsThrough(folder() + "\\rel2.5"), "(not opened)");
    EXPECT_EQ(contentsThrough(folder() + "\\missing.PF3"), "(not opened)");
}

}  // namespace
}  // namespace reburn3::testing
