// SPDX-License-Identifier: Apache-2.0
#include <cstdio>
#include <string>

#include "script/record_reader.h"
#include "script/script_check.h"
#include "script/script_format.h"
#include "support/test_fixture.h"

namespace reburn3::testing {
namespace {

ScriptSummary check(const std::string& content) {
    ScriptChecker checker;
    checker.feed(content.data(), content.size());
    return checker.finish();
}

TEST(PercentFormat, OneOrTwoDecimals) {
    EXPECT_EQ(formatPercent(0.0F), "0.0 %");
    EXPECT_EQ(formatPercent(1.0F / 3.0F), "33.33 %");
    EXPECT_EQ(formatPercent(0.5F), "50.0 %");
    EXPECT_EQ(formatPercent(1.0F), "100.0 %");
    EXPECT_EQ(formatPercent(0.125F), "12.5 %");
    EXPECT_EQ(formatPercent(2.0F / 3.0F), "66.67 %");
}

// The box shows printf's rounding of the single-precision fraction: every step of runs
// of awkward length, and halves that round to even, come out as "%.2f" writes them.
TEST(PercentFormat, RoundsAsPrintfDoesAtEveryRecord) {
    auto printfPercent = [](float fraction) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.2f", static_cast<double>(fraction) * 100.0);
        std::string out(buf);
        if (out.back() == '0') {
            out.pop_back();
        }
        return out + " %";
    };
    for (const int total : {7, 66, 33792, 270339}) {
        for (int done = 0; done <= total; done += 1 + total / 20000) {
            const float fraction = static_cast<float>(done) / static_cast<float>(total);
            ASSERT_EQ(formatPercent(fraction), printfPercent(fraction)) << done << "/" << total;
        }
    }
    // Halves to even, the least values, and what no count gives but the box would show.
    for (const float odd : {0.00125F, 0.00375F, 0.00005F, 0.99995F, 1e-45F, -0.0F, 2.0F, -0.5F}) {
        EXPECT_EQ(formatPercent(odd), printfPercent(odd)) << odd;
    }
}

TEST(ScriptCheck, MeasuresAScript) {
    const auto s = check(scriptOf("T5A T01 R91 E T02 R26 E"));
    EXPECT_TRUE(s.ok());
    EXPECT_EQ(s.bytes, 28U);
    EXPECT_EQ(s.records, 7U);
    EXPECT_EQ(s.lines, 2U);
    EXPECT_EQ(s.txBytes, 3U);
    EXPECT_EQ(s.rxBytes, 2U);
    EXPECT_EQ(s.groups, 4U);
    EXPECT_EQ(s.tickBound(), 57U + 4U + kAliveTicksAfterDrain);
}

TEST(ScriptCheck, TrailingWhiteSpaceIsIgnoredAndAnyOtherRemainderIsAFault) {
    const std::string base = scriptOf("T01 E T02 R03");
    for (const std::string tail : {"\r", "\n", "\r\n", " \t\x1A"}) {
        const auto s = check(base + tail);
        EXPECT_TRUE(s.ok()) << tail.size();
        EXPECT_EQ(s.records, 4U);
    }
    // White space of any length after the last record is no record.
    const auto blank = check(base + "\r\n\r\n\r\n \x1A");
    EXPECT_TRUE(blank.ok());
    EXPECT_EQ(blank.records, 4U);
    // Before a record it is a fault like any other.
    const auto inside = check(base + "\r\n\r\n" + "T01:");
    ASSERT_EQ(inside.faults.size(), 1U);
    EXPECT_EQ(inside.faults[0].record, 5U);
    EXPECT_EQ(inside.faults[0].message, "Char4 not a :");
    const auto bad = check(base + "T0");
    EXPECT_FALSE(bad.ok());
    ASSERT_EQ(bad.faults.size(), 1U);
    EXPECT_EQ(bad.faults[0].record, 5U);
    EXPECT_EQ(bad.faults[0].message, "Incomplete record at the end of the file: 2 bytes");
    // 14 bytes hold three whole records, not four.
    EXPECT_EQ(check(scriptOf("T01 T02 T03") + "\r\n").records, 3U);
    EXPECT_EQ(check(base + "\r\n\r\nT").faults.back().message,
              "Incomplete record at the end of the file: 1 byte");
    EXPECT_EQ(check(base + "\r\n\r\nT").faults.back().record, 6U);
}

TEST(ScriptCheck, EachFaultNamesItsRecordWithTheReadersMessage) {
    const auto s = check(scriptOf("T5a Tg1 t01 E") + "T01;" + "E\r\r:" + "Tgz:");
    EXPECT_EQ(s.faultCount, 7U);
    std::vector<std::pair<std::uint64_t, std::string>> got;
    for (const auto& f : s.faults) {
        got.emplace_back(f.record, f.message);
    }
    EXPECT_EQ(got, (std::vector<std::pair<std::uint64_t, std::string>>{
                       {1, "Nib0 not valid: 61"},
                       {2, "Nib1 not valid: 67"},
                       {3, "Invalid packet read from input file.  t01:"},
                       {5, "Char4 not a :"},
                       {6, "Error. Expected <cr> <lf> not found."},
                       {7, "Nib1 not valid: 67"},
                       {7, "Nib0 not valid: 7A"}}));
}

TEST(ScriptCheck, FaultsBeyondTheListedOnesAreCountedAsTheyWouldBeListed) {
    // Every kind of faulty record, a run of white-space records longer than the list,
    // and records with two faults; the list fills up at a different record each time.
    std::string block = scriptOf("T01") + "Tzz:" + "Tz1:" + "T1z:" + "E\r\r:" + "X12:" + "T01;";
    block += std::string(4, '\0') + std::string(4 * 30, ' ') + "R02:" + "\r\nT:" + "Ezz:";
    for (std::size_t shift = 0; shift <= 22; ++shift) {
        std::string content;
        for (std::size_t i = 0; i < shift; ++i) {
            content += "Tz1:";
        }
        for (int i = 0; i < 5; ++i) {
            content += block;
        }
        std::vector<ScriptFault> expected;
        for (std::size_t at = 0; at < content.size(); at += 4) {
            if (script::decodeRecord(content.data() + at).kind == script::RecordKind::Malformed) {
                for (std::string& message : script::describeFaults(content.data() + at)) {
                    expected.push_back({at / 4 + 1, std::move(message)});
                }
            }
        }
        const auto s = check(content);
        EXPECT_EQ(s.faultCount, expected.size()) << shift;
        // Fed a byte at a time every record is decoded one by one: the counting of
        // whole blocks past the listed faults must agree with it.
        ScriptChecker bytewise;
        for (const char c : content) {
            bytewise.feed(&c, 1);
        }
        const ScriptSummary b = bytewise.finish();
        EXPECT_EQ(b.faultCount, s.faultCount) << shift;
        EXPECT_EQ(b.records, s.records) << shift;
        EXPECT_EQ(b.groups, s.groups) << shift;
        EXPECT_EQ(b.lines, s.lines) << shift;
        ASSERT_EQ(s.faults.size(), ScriptSummary::kListedFaults) << shift;
        for (std::size_t i = 0; i < s.faults.size(); ++i) {
            EXPECT_EQ(s.faults[i].record, expected[i].record) << shift << " " << i;
            EXPECT_EQ(s.faults[i].message, expected[i].message) << shift << " " << i;
        }
    }
}

TEST(ScriptCheck, BinaryBytesAreShownSafely) {
    const auto s = check(std::string("\x1B[2J", 4));
    ASSERT_EQ(s.faults.size(), 1U);
    EXPECT_EQ(s.faults[0].message, "Char4 not a :");
    const auto t = check(std::string("\x1B\x07\xFF:", 4));
    EXPECT_EQ(t.faults[0].message, "Invalid packet read from input file.  <1B><07><FF>:");
}

TEST(ScriptCheck, FeedingInPiecesGivesTheSameResult) {
    const std::string content = scriptOf("T01 T02 R03 E Tx1 R04 E T05") + "\n";
    const auto whole = check(content);
    for (std::size_t piece = 1; piece <= 7; ++piece) {
        ScriptChecker checker;
        for (std::size_t i = 0; i < content.size(); i += piece) {
            const std::size_t n = std::min(piece, content.size() - i);
            checker.feed(content.data() + i, n);
        }
        const auto s = checker.finish();
        EXPECT_EQ(s.records, whole.records);
        EXPECT_EQ(s.faultCount, whole.faultCount);
        EXPECT_EQ(s.groups, whole.groups);
        EXPECT_EQ(s.bytes, whole.bytes);
    }
}

// `count` records of `kind` ("T00" or "R00"), as scriptOf words.
std::string records(const std::string& kind, int count) {
    std::string words;
    for (int i = 0; i < count; ++i) {
        words += kind + " ";
    }
    return words;
}

ScriptSummary checkOnLine(const std::string& content, std::uint32_t baud, std::size_t piece) {
    ScriptChecker checker(kMaxRecords, baud);
    for (std::size_t i = 0; i < content.size(); i += piece) {
        checker.feed(content.data() + i, std::min(piece, content.size() - i));
    }
    return checker.finish();
}

struct LineCase {
    const char* name;
    std::string words;
    std::uint32_t baud;
    std::uint64_t groupTicks;  // the ticks after the handshake's 57
};

class ScriptCheckOnALine : public ::testing::TestWithParam<LineCase> {};

// An answer is awaited, from the tick that wrote the T group before it, for as many whole
// ticks as those bytes and the answer's take on the line, and never less than one.
TEST_P(ScriptCheckOnALine, CountsTheWholeTicksEachAnswerWaitsFor) {
    const LineCase& c = GetParam();
    const std::string content = scriptOf(c.words);
    const auto whole = checkOnLine(content, c.baud, content.size());
    EXPECT_EQ(whole.tickBound(), 57U + c.groupTicks + kAliveTicksAfterDrain);
    EXPECT_EQ(whole.lineBaud, c.baud);
    // Fed in any pieces the groups fold the same way: none is kept.
    for (std::size_t piece : {1U, 3U, 5U}) {
        EXPECT_EQ(checkOnLine(content, c.baud, piece).tickBound(), whole.tickBound()) << piece;
    }
    // The same script without a rate keeps the line-less bound.
    const auto lineless = checkOnLine(content, 0, content.size());
    EXPECT_EQ(lineless.tickBound(), 57U + lineless.groups + kAliveTicksAfterDrain);
    EXPECT_LE(lineless.tickBound(), whole.tickBound());
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ScriptCheckOnALine,
    ::testing::Values(
        // 65 bytes at 115200 baud take 5.64 ms: the answer is seen at the second tick.
        LineCase{"SixtyFourBytesAndAnAnswer",
                 records("T00", 64) + "R00 E " + records("T00", 64) + "R00 E", 115200, 6},
        // 58 bytes take 5.03 ms, just over a tick; 57 bytes take 4.95 ms, just under.
        LineCase{"JustOverOneTick", records("T00", 57) + "R00 E", 115200, 3},
        LineCase{"JustUnderOneTick", records("T00", 56) + "R00 E", 115200, 2},
        // 2 bytes at 4000 baud take exactly one tick; one baud less, a little more.
        LineCase{"ExactlyOneTick", "T00 R00", 4000, 2},
        LineCase{"ALittleOverOneTick", "T00 R00", 3999, 3},
        // Line marks do not end a group: 64 T bytes cross before the answer.
        LineCase{"LineMarksInsideAGroup", records("T00", 32) + "E " + records("T00", 32) + "R00",
                 115200, 3},
        // A long answer waits for its own bytes too; an answer first waits for itself alone.
        LineCase{"LongAnswer", "T00 " + records("R00", 100), 115200, 1 + 2},
        LineCase{"AnswerFirst", records("R00", 100) + "T00 R00", 115200, 2 + 1 + 1},
        // A script that ends on T bytes ends with their tick.
        LineCase{"EndsOnTBytes", records("T00", 200), 115200, 1},
        // A slow line: a T byte and its answer take 208 ms, 42 ticks.
        LineCase{"SlowLine", "T00 R00 E T00 R00", 96, 1 + 42 + 1 + 42}),
    [](const ::testing::TestParamInfo<LineCase>& param) { return std::string(param.param.name); });

TEST(ScriptCheck, ReactiveBoundIsTheHandshakeThenEveryByteBackToBack) {
    const std::string content =
        scriptOf(records("T00", 64) + "R00 E " + records("T00", 64) + "R00 E");
    const auto onLine = checkOnLine(content, 115200, content.size());
    EXPECT_DOUBLE_EQ(onLine.reactiveBoundSeconds(), (57 + 20) * 0.005 + 130 * 10.0 / 115200);
    EXPECT_LT(onLine.reactiveBoundSeconds(), static_cast<double>(onLine.tickBound()) * 0.005);
    // Without a rate the line adds nothing: the handshake's ticks alone.
    EXPECT_DOUBLE_EQ(checkOnLine(content, 0, 7).reactiveBoundSeconds(), (57 + 20) * 0.005);
    // The line's ticks never overflow on the largest script a run may play.
    EXPECT_EQ(lineTicks(kMaxRecords, 1), kMaxRecords * 2000);
    EXPECT_EQ(lineTicks(0, 115200), 1U);
}

TEST(ScriptCheck, EmptyAndTinyScriptsHoldNoRecord) {
    for (const std::string content : {"", "T", "T0", "\r\n"}) {
        const auto s = check(content);
        EXPECT_EQ(s.records, 0U);
        EXPECT_FALSE(s.ok());
    }
}

TEST(ScriptFormat, HexWithoutLeadingZeros) {
    EXPECT_EQ(script::hex(0), "0");
    EXPECT_EQ(script::hex(0x0A), "A");
    EXPECT_EQ(script::hex(0x91), "91");
    EXPECT_EQ(script::hex(255), "FF");
}

class ScriptReaderTest : public CoreTest {};

TEST_F(ScriptReaderTest, CountRecordsResetsTheProgressBoxes) {
    MainStartUp(form, "");
    selectScript(writeScript("a.pf3", scriptOf("T5A T01 R91 E T02 R26 E")));
    EXPECT_EQ(S.RecordsTotal, 7);
    EXPECT_EQ(S.RecordsRemaining, 7);
    EXPECT_EQ(textOf(TextBoxId::Text3), "7");
    EXPECT_EQ(textOf(TextBoxId::Text4), "0");
    EXPECT_EQ(textOf(TextBoxId::Text5), "0.0 %");
}

TEST_F(ScriptReaderTest, TooManyFaultsAreSummed) {
    MainStartUp(form, "");
    std::string content;
    for (int i = 0; i < 25; ++i) {
        content += "Tzz:";
    }
    selectScript(writeScript("bad.pf3", content));
    // 50 faults: 20 listed, one line for the other 30, then the refusal.
    EXPECT_EQ(debug().size(), 22U);
    EXPECT_EQ(debug()[0], "Record 1: Nib1 not valid: 7A");
    EXPECT_EQ(debug()[20], "Further faults not listed: 30");
    EXPECT_EQ(debug()[21], "** ERROR ** Script refused, nothing was sent: " + S.FileName);
}

TEST_F(ScriptReaderTest, ScriptWithoutAWholeRecordIsRefused) {
    MainStartUp(form, "");
    selectScript(writeScript("tiny.pf3", "T0"));
    EXPECT_EQ(textOf(TextBoxId::Text3), "0");
    EXPECT_EQ(textOf(TextBoxId::Text4), "0");
    EXPECT_EQ(debug().front(), "Record 1: Incomplete record at the end of the file: 2 bytes");
    EXPECT_EQ(debug().back(), "** ERROR ** Script refused, nothing was sent: " + S.FileName);
    selectScript(writeScript("empty.pf3", ""));
    EXPECT_EQ(debug().back(),
              "** ERROR ** Script holds no whole record, nothing was sent: " + S.FileName);
}

TEST_F(ScriptReaderTest, HexPairToByteReportsBothNibbles) {
    MainStartUp(form, "");
    bool valid = true;
    EXPECT_EQ(form.reader().HexPairToByte(FixedText<2>("5a"), &valid), 0x50);
    EXPECT_FALSE(valid);
    EXPECT_EQ(debug().back(), "Nib0 not valid: 61");
    EXPECT_EQ(form.reader().HexPairToByte(FixedText<2>("g1"), &valid), 0x01);
    EXPECT_EQ(debug().back(), "Nib1 not valid: 67");
    EXPECT_EQ(form.reader().HexPairToByte(FixedText<2>("xy")), 0);
    EXPECT_EQ(debug()[debug().size() - 2], "Nib1 not valid: 78");
    EXPECT_EQ(debug().back(), "Nib0 not valid: 79");
    EXPECT_EQ(form.reader().HexPairToByte(FixedText<2>("FF"), &valid), 255);
    EXPECT_TRUE(valid);
}

TEST_F(ScriptReaderTest, ReadingAtTheEndReportsTheEnd) {
    MainStartUp(form, "");
    form.script().openMemory("");
    EXPECT_EQ(form.reader().ReadNextRecord(), ReadOutcome::EndOfScript);
}

TEST_F(ScriptReaderTest, ExtensionCaseFallsBackToTheFileOnDisk) {
    const std::string real = writeScript("image.pf3", "T01:");
    const std::string asked = (dir / "image.PF3").string();
    // A file system that ignores case (Windows) opens the name as asked; no search needed.
    const bool ignoresCase = std::filesystem::exists(asked);
    EXPECT_EQ(resolveScriptPath(asked), ignoresCase ? asked : real);
    EXPECT_EQ(resolveScriptPath(real), real);
    EXPECT_EQ(resolveScriptPath((dir / "IMAGE.PF3").string()), (dir / "IMAGE.PF3").string());
    ScriptStream stream;
    EXPECT_TRUE(stream.open(asked));
    EXPECT_FALSE(stream.open(dir.string()));  // a folder is no script
}

}  // namespace
}  // namespace reburn3::testing
