// SPDX-License-Identifier: Apache-2.0
// The run layer's Windows files under Wine: the SHA-256 from CNG against known digests, the
// script's copy read back as written, and the --log and --trace files: lines that end in a
// bare newline, files told apart by their identity (a second name of the script is still
// the script), and what is not a disk file refused.
#include <gtest/gtest.h>

#include <windows.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "run/output_files.h"
#include "run/script_snapshot.h"
#include "run/sha256_digest.h"
#include "script/script_file.h"

namespace reburn3::testing {
namespace {

namespace fs = std::filesystem;
using run::AppendLog;
using run::ProtectedFile;
using run::Sha256Digest;
using run::TraceFile;

TEST(WindowsSha256, KnownDigestsWholeOrInPiecesAndAskedTwice) {
    struct Case {
        std::string data;
        const char* hex;
    };
    const Case table[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case& c : table) {
        Sha256Digest whole;
        whole.add(c.data.data(), c.data.size());
        EXPECT_EQ(whole.hexResult(), c.hex) << c.data.size() << " bytes";
        EXPECT_EQ(whole.hexResult(), c.hex) << "asked again";
        Sha256Digest pieces;
        pieces.add("junk", 4);
        pieces.restart();
        for (std::size_t at = 0; at < c.data.size(); at += 4093) {
            pieces.add(c.data.data() + at, std::min<std::size_t>(4093, c.data.size() - at));
        }
        EXPECT_EQ(pieces.hexResult(), c.hex) << c.data.size() << " bytes in pieces";
    }
}

TEST(WindowsScriptSnapshot, TheCopyReadsBackAsWrittenAndHashed) {
    run::ScriptSnapshot snapshot;
    std::string error;
    ASSERT_TRUE(snapshot.create(error)) << error;
    std::string bytes;
    for (int i = 0; i < 20000; ++i) {
        bytes += "T" + std::to_string(i % 97) + "\r\n";
    }
    snapshot.add(bytes.data(), bytes.size() / 2);
    snapshot.add(bytes.data() + bytes.size() / 2, bytes.size() - bytes.size() / 2);
    Sha256Digest expected;
    expected.add(bytes.data(), bytes.size());
    EXPECT_EQ(snapshot.hexResult(), expected.hexResult());
    const std::shared_ptr<ScriptFile> copy = snapshot.finish(error);
    ASSERT_NE(copy, nullptr) << error;
    std::string read(bytes.size() + 10, '\0');
    ASSERT_EQ(copy->readAt(0, read.data(), read.size()), bytes.size());
    read.resize(bytes.size());
    EXPECT_EQ(read, bytes);
}

class WindowsOutputFiles : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder = fs::temp_directory_path() / "reburn3 outputs";
        fs::remove_all(m_folder);
        fs::create_directories(m_folder / "folder");
        std::ofstream(m_folder / "script.pf3", std::ios::binary) << "T01:\n";
    }
    void TearDown() override { fs::remove_all(m_folder); }

    std::string path(const char* name) const { return (m_folder / name).string(); }
    std::vector<ProtectedFile> guarded() const {
        const std::string script = path("script.pf3");
        return {{run::identityOfPath(script), "the script to download", run::resolvedName(script)}};
    }
    static std::string contents(const std::string& name) {
        std::ifstream in(name, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    fs::path m_folder;
};

TEST_F(WindowsOutputFiles, LogLinesEndInABareNewlineAndAppend) {
    std::string error;
    {
        AppendLog log;
        ASSERT_TRUE(log.open(path("log.jsonl"), guarded(), error)) << error;
        ASSERT_TRUE(log.canTake(100, error)) << error;
        ASSERT_TRUE(log.append("{\"a\":1}", error)) << error;
    }
    AppendLog again;
    ASSERT_TRUE(again.open(path("log.jsonl"), guarded(), error)) << error;
    ASSERT_TRUE(again.append("{\"b\":2}", error)) << error;
    EXPECT_EQ(contents(path("log.jsonl")), "{\"a\":1}\n{\"b\":2}\n");
    EXPECT_TRUE(again.identity().sameAs(run::identityOfPath(path("log.jsonl"))));
    EXPECT_FALSE(again.identity().sameAs(run::identityOfPath(path("script.pf3"))));
}

TEST_F(WindowsOutputFiles, WhatAnOutputMayNotBe) {
    // A second name of the script (a hard link) is the script, told by its file index.
    ASSERT_TRUE(
        CreateHardLinkA(path("other-name.txt").c_str(), path("script.pf3").c_str(), nullptr));
    struct Case {
        std::string target;
        std::string refusal;  // how the refusal starts; empty: taken
    };
    const Case table[] = {
        {path("script.pf3"), "it is the script to download"},
        {path("other-name.txt"), "it is the script to download"},
        {path("folder"), std::strerror(EISDIR)},
        {"NUL", ""},
        // Wine's COM1 (its link to /dev/ttyS0): refused by its name, never opened.
        {"COM1", "it is a device; the "},
        {path("trace.txt"), ""},
    };
    for (const Case& c : table) {
        std::string error;
        AppendLog log;
        EXPECT_EQ(log.open(c.target, guarded(), error), c.refusal.empty()) << c.target;
        EXPECT_EQ(error.substr(0, c.refusal.size()), c.refusal) << c.target << ": " << error;
        TraceFile trace;
        error.clear();
        EXPECT_EQ(trace.open(c.target, guarded(), error), c.refusal.empty()) << c.target;
        EXPECT_EQ(error.substr(0, c.refusal.size()), c.refusal) << c.target << ": " << error;
    }
    EXPECT_EQ(contents(path("script.pf3")), "T01:\n");
}

TEST_F(WindowsOutputFiles, TheTraceStartsAfreshForEachDownload) {
    std::string error;
    TraceFile trace;
    ASSERT_TRUE(trace.open(path("trace.txt"), guarded(), error)) << error;
    trace.restart();
    std::fputs("1 TX E1\n", trace.stream());
    trace.restart();
    std::fputs("2 TX 94\n", trace.stream());
    trace.flush();
    EXPECT_EQ(trace.problem(), "");
    EXPECT_EQ(contents(path("trace.txt")),
              "# tick direction byte (TX: to the device, RX: from it; ticks of 5 ms)\n2 TX 94\n");
}

}  // namespace
}  // namespace reburn3::testing
