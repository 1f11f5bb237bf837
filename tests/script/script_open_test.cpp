// SPDX-License-Identifier: Apache-2.0
// The script as one open file: checked and played from the same descriptor, never
// inherited by another program, its digest taken in the check's own pass, its check
// stoppable between blocks, and its record count bounded by the record counters.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "script/script_check.h"
#include "script/script_file.h"
#include "support/test_fixture.h"

namespace reburn3::testing {
namespace {

namespace fs = std::filesystem;

// Keeps every byte it is fed, so that a test can see what the check's pass read.
class KeepingDigest : public ScriptDigest {
public:
    void restart() override {
        bytes.clear();
        ++passes;
    }
    void add(const char* data, std::size_t size) override { bytes.append(data, size); }
    std::string hexResult() override { return "fed " + std::to_string(bytes.size()); }

    std::string bytes;
    int passes = 0;
};

struct OneFileCase {
    const char* name;
    int records;                  // T records in the script
    std::uint64_t recordLimit;    // what the check allows
    int stopBeforeBlock;          // the check is asked to stop from this block on; -1: never
    bool replacedAfterSelection;  // another file is renamed over the name before the run
    const char* refusal;          // the debug log's last line after a refused start, or ""
};

void PrintTo(const OneFileCase& c, std::ostream* os) {
    *os << c.name;
}

// Descriptors of this process open on `path` (a removed file shows as "path (deleted)"),
// and whether each is closed when a program is started.
struct OpenCopies {
    int count = 0;
    int inherited = 0;
};

OpenCopies openCopiesOf(const std::string& path) {
    OpenCopies copies;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        const std::string target = fs::read_symlink(entry.path(), ec).string();
        if (ec || target.rfind(path, 0) != 0) {
            continue;
        }
        ++copies.count;
        const int fd = std::stoi(entry.path().filename().string());
        if ((::fcntl(fd, F_GETFD) & FD_CLOEXEC) == 0) {
            ++copies.inherited;
        }
    }
    return copies;
}

std::string transmitScript(int records, int salt) {
    std::string script;
    for (int i = 0; i < records; ++i) {
        char rec[8];
        std::snprintf(rec, sizeof rec, "T%02X:", (i + salt) & 0xFF);
        script += rec;
    }
    return script;
}

std::vector<std::uint8_t> downloadOf(int records, int salt) {
    std::vector<std::uint8_t> bytes{0xE1, 0x94};
    for (int i = 0; i < records; ++i) {
        bytes.push_back(static_cast<std::uint8_t>((i + salt) & 0xFF));
    }
    return bytes;
}

class ScriptFromOneFile : public CoreTest, public ::testing::WithParamInterface<OneFileCase> {};

// Two blocks of the reader: 20 000 records of 4 bytes.
constexpr int kRecords = 20000;

TEST_P(ScriptFromOneFile, IsCheckedAndPlayedAsItWasOpened) {
    const OneFileCase& c = GetParam();
    const std::string path = writeScript("script.pf3", transmitScript(c.records, 0));
    const std::string scriptBytes = transmitScript(c.records, 0);

    // Opened once, as the command line does, and held for every later open of the name.
    auto file = std::make_shared<ScriptFile>();
    ASSERT_TRUE(file->open(path));
    KeepingDigest digest;
    int blocksAsked = 0;
    CheckOptions options;
    options.recordLimit = c.recordLimit;
    options.digest = &digest;
    options.stopRequested = [&] {
        return c.stopBeforeBlock >= 0 && blocksAsked++ >= c.stopBeforeBlock;
    };
    form.script().holdFile(path, file);
    form.reader().setCheckOptions(options);
    file.reset();

    MainStartUp(form, "");
    selectScript(path);
    openPort();
    if (c.replacedAfterSelection) {
        const std::string other = writeScript("other.pf3", transmitScript(c.records, 7));
        ASSERT_EQ(std::rename(other.c_str(), path.c_str()), 0);
    }
    startRunWithGoodHandshake();

    const OpenCopies copies = openCopiesOf(path);
    EXPECT_EQ(copies.count, 1) << "the script is open once, in one descriptor";
    EXPECT_EQ(copies.inherited, 0) << "a started program must not inherit the script";

    if (*c.refusal != '\0') {
        EXPECT_EQ(form.engine().outcome(), RunOutcome::ScriptRefused);
        EXPECT_EQ(debug().back(), std::string(c.refusal) + path);
        EXPECT_TRUE(driver.written().empty()) << "nothing may be sent for a refused script";
        // An interrupted check has no digest; a refused one has, of what it read.
        EXPECT_EQ(form.reader().summary().digest.empty(), form.reader().summary().interrupted);
        return;
    }
    runToEnd();
    EXPECT_EQ(form.engine().outcome(), RunOutcome::Completed);
    EXPECT_EQ(S.RecordsDone, c.records);
    // The bytes checked, digested and played are those of the file as it was opened.
    EXPECT_EQ(driver.written(), downloadOf(c.records, 0));
    EXPECT_EQ(digest.passes, 2);  // one pass at the selection, one at the run start
    EXPECT_EQ(digest.bytes, scriptBytes);
    EXPECT_EQ(form.reader().summary().digest, "fed " + std::to_string(scriptBytes.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScriptFromOneFile,
    ::testing::Values(OneFileCase{"WithinTheLimit", kRecords, kMaxRecords, -1, false, ""},
                      OneFileCase{"AtTheLimitEveryRecordIsPlayed", kRecords, kRecords, -1, false,
                                  ""},
                      OneFileCase{"OneRecordOverTheLimitIsRefused", kRecords + 1, kRecords, -1,
                                  false, "** ERROR ** Script refused, nothing was sent: "},
                      OneFileCase{"StoppedBeforeTheFirstBlock", kRecords, kMaxRecords, 0, false,
                                  "** ERROR ** Script check interrupted, nothing was sent: "},
                      OneFileCase{"StoppedBeforeTheLastBlock", kRecords, kMaxRecords, 1, false,
                                  "** ERROR ** Script check interrupted, nothing was sent: "},
                      OneFileCase{"ReplacedByRenameAfterSelectionTheOpenFileIsPlayed", kRecords,
                                  kMaxRecords, -1, true, ""}),
    [](const ::testing::TestParamInfo<OneFileCase>& param) { return param.param.name; });

TEST(ScriptCheckLimit, TheRefusalNamesTheFirstRecordOverTheLimit) {
    ScriptChecker checker(3);
    const std::string script = "T01:T02:T03:T04:\r\n\r\n";
    checker.feed(script.data(), script.size());
    const ScriptSummary s = checker.finish();
    EXPECT_FALSE(s.ok());
    ASSERT_EQ(s.faults.size(), 1U);
    EXPECT_EQ(s.faults[0].record, 4U);
    EXPECT_EQ(s.faults[0].message, "More records than a run can count, at most 3");
    // Trailing white space is no record: three records and white space pass.
    ScriptChecker atLimit(3);
    atLimit.feed(script.data() + 4, script.size() - 4);
    EXPECT_TRUE(atLimit.finish().ok());
    EXPECT_EQ(kMaxRecords, 2147483647U);
}

TEST(ScriptFileOpen, OnlyARegularFileOpensAndAPipeDoesNotWaitForAWriter) {
    const fs::path dir = fs::temp_directory_path() / "reburn3-core-script-file-open";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string fifo = (dir / "pipe.pf3").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ScriptFile file;
    EXPECT_FALSE(file.open(fifo));  // returns at once: no writer is ever coming
    EXPECT_FALSE(file.open(dir.string()));
    EXPECT_FALSE(file.open((dir / "missing.pf3").string()));
    EXPECT_FALSE(file.isOpen());
    fs::remove_all(dir);
}

}  // namespace
}  // namespace reburn3::testing
