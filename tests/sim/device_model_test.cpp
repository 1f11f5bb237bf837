// SPDX-License-Identifier: Apache-2.0
#include "sim/device_model.h"

#include "script/script_check.h"
#include "sim/line_pace.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace reburn3::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Two lines: send 5A 01, expect 91; send 02, expect 26.
const std::string kTiny = "T5A:T01:R91:E\r\n:T02:R26:E\r\n:";

DeviceModel makeDevice(const std::string& text, DeviceOptions options = {}) {
    LoadResult loaded = loadScript(text);
    EXPECT_TRUE(loaded.script.has_value()) << loaded.error;
    return DeviceModel(std::move(loaded.script).value_or(DeviceScript{}), options);
}

// Feeds bytes arriving at `at` and returns every reply byte, in order (delays dropped).
Bytes feed(DeviceModel& d, const Bytes& in, Millis at = Millis{0}) {
    Bytes out;
    for (std::uint8_t b : in) {
        for (const Reply& r : d.receive(b, at)) {
            out.insert(out.end(), r.bytes.begin(), r.bytes.end());
        }
    }
    return out;
}

std::vector<Reply> replies(DeviceModel& d, const Bytes& in, Millis at = Millis{0}) {
    std::vector<Reply> all;
    for (std::uint8_t b : in) {
        for (Reply& r : d.receive(b, at)) {
            all.push_back(std::move(r));
        }
    }
    return all;
}

const Bytes kHello = {0xE1, 0x94};
const Bytes kReady = {0x91, 0x26};

// --- Loading -------------------------------------------------------------------

// Every step of a script, from the first, as the device reads it.
std::vector<Step> stepsOf(DeviceScript& s) {
    std::vector<Step> steps;
    s.rewind();
    for (const Step* step = s.current(); step != nullptr; s.next(), step = s.current()) {
        steps.push_back(*step);
    }
    return steps;
}

TEST(DeviceScriptLoad, TurnsRecordsIntoStepsAndCountsLines) {
    LoadResult loaded = loadScript(kTiny);
    ASSERT_TRUE(loaded.script) << loaded.error;
    DeviceScript& s = *loaded.script;
    EXPECT_EQ(s.records(), 7u);
    EXPECT_EQ(s.lines(), 2u);
    const std::vector<Step> steps = stepsOf(s);
    ASSERT_EQ(steps.size(), 5u);
    EXPECT_EQ(steps[0].kind, Step::Kind::FromHost);
    EXPECT_EQ(steps[0].byte, 0x5A);
    EXPECT_EQ(steps[2].kind, Step::Kind::ToHost);
    EXPECT_EQ(steps[2].byte, 0x91);
    EXPECT_EQ(steps[2].record, 3u);
    EXPECT_EQ(steps[4].record, 6u);
    EXPECT_EQ(stepsOf(s).size(), 5u) << "rewinds to the first step";
}

// A script of several blocks, read as it is played: the steps run on across the
// blocks, a second download starts again from the first, trailing white space is
// no step, and a file opens the same way as bytes in memory.
TEST(DeviceScriptLoad, AScriptLongerThanABlockIsReadAsItIsPlayed) {
    std::string text;
    for (std::size_t i = 0; text.size() < 3 * reburn3::kBlockSize; ++i) {
        text += "T" + std::string(1, "0123456789ABCDEF"[i % 16]) + "0:";
        if (i % 100 == 99) {
            text += "R" + std::string(1, "0123456789ABCDEF"[(i / 100) % 16]) + "1:E\r\n:";
        }
    }
    text += "R7E:\r\n";
    const std::string path = ::testing::TempDir() + "/sim_long_" + std::to_string(::getpid());
    std::ofstream(path, std::ios::binary) << text;
    LoadResult fromFile = openScript(path);
    ASSERT_TRUE(fromFile.script) << fromFile.error;
    LoadResult fromMemory = loadScript(text);
    ASSERT_TRUE(fromMemory.script) << fromMemory.error;
    const std::vector<Step> steps = stepsOf(*fromMemory.script);
    ASSERT_EQ(steps.size(), (text.size() - 2) / 4 - fromMemory.script->lines());
    EXPECT_EQ(steps.back().byte, 0x7E);
    EXPECT_EQ(steps.back().record, (text.size() - 2) / 4);
    const std::vector<Step> fileSteps = stepsOf(*fromFile.script);
    EXPECT_TRUE(std::equal(steps.begin(), steps.end(), fileSteps.begin(), fileSteps.end(),
                           [](const Step& a, const Step& b) {
                               return a.kind == b.kind && a.byte == b.byte && a.record == b.record;
                           }));

    DeviceOptions stay;
    stay.stay = true;
    DeviceModel d(std::move(*fromFile.script), stay);
    for (int download = 1; download <= 2; ++download) {
        Bytes sent = kHello;
        Bytes expected = kReady;
        for (const Step& step : steps) {
            (step.kind == Step::Kind::FromHost ? sent : expected).push_back(step.byte);
        }
        EXPECT_EQ(feed(d, sent), expected) << download;
    }
    EXPECT_EQ(d.completed(), 2u);
    EXPECT_TRUE(d.mismatches().empty());
    std::filesystem::remove(path);
    EXPECT_FALSE(openScript(path).script) << "a missing file";
    EXPECT_FALSE(openScript(path).error.empty());
}

TEST(DeviceScriptLoad, RefusesWhatTheCheckerFindsFaultWith) {
    for (const std::string& bad :
         {std::string(""), std::string("t5A:"), std::string("T5a:"), std::string("T5A;"),
          std::string("EXX:"), std::string("T5A:R9")}) {
        const LoadResult loaded = loadScript(bad);
        EXPECT_FALSE(loaded.script) << "accepted: " << bad;
        EXPECT_FALSE(loaded.error.empty()) << bad;
    }
}

// --- Handshake -----------------------------------------------------------------

TEST(DeviceHandshake, AnswersE194With9126AndIgnoresOtherBytes) {
    DeviceModel d = makeDevice(kTiny);
    EXPECT_TRUE(feed(d, {0x00, 0x94, 0x55}).empty());
    EXPECT_TRUE(feed(d, {0xE1, 0x00, 0x94}).empty()) << "E1 and 94 must be adjacent";
    EXPECT_EQ(feed(d, {0xE1, 0xE1, 0x94}), kReady);
    EXPECT_EQ(d.phase(), DeviceModel::Phase::Playing);
    EXPECT_EQ(d.downloads(), 1u);
}

TEST(DeviceHandshake, FaultyRepliesAndTheDeviceGivesUpAfterThem) {
    DeviceOptions bad;
    bad.badHandshake = true;
    DeviceModel d1 = makeDevice(kTiny, bad);
    EXPECT_EQ(feed(d1, kHello), (Bytes{0x91, 0x27}));
    EXPECT_TRUE(feed(d1, {0x5A, 0x01}).empty());
    EXPECT_EQ(d1.phase(), DeviceModel::Phase::Stuck);

    DeviceOptions stray;
    stray.stray = true;
    DeviceModel d2 = makeDevice(kTiny, stray);
    EXPECT_EQ(feed(d2, kHello), (Bytes{0x91, 0x26, 0x00}));
    EXPECT_TRUE(feed(d2, {0x5A, 0x01}).empty());

    DeviceOptions silent;
    silent.silentHandshake = true;
    DeviceModel d3 = makeDevice(kTiny, silent);
    EXPECT_TRUE(feed(d3, kHello).empty());
    EXPECT_TRUE(feed(d3, {0x5A, 0x01, 0x02}).empty());
    EXPECT_EQ(d3.downloads(), 0u);
}

TEST(DeviceHandshake, IgnoredHandshakesGoUnansweredAndTheNextOneIsAnswered) {
    DeviceOptions o;
    o.ignoreHandshakes = 2;
    o.verbose = true;
    DeviceModel d = makeDevice(kTiny, o);
    EXPECT_TRUE(feed(d, kHello).empty());
    EXPECT_TRUE(feed(d, {0x5A, 0x01}).empty()) << "no download has started";
    EXPECT_TRUE(feed(d, kHello).empty());
    EXPECT_EQ(feed(d, kHello), kReady);
    EXPECT_EQ(feed(d, {0x5A, 0x01, 0x02}), (Bytes{0x91, 0x26}));
    EXPECT_TRUE(d.finished());
    EXPECT_EQ(d.downloads(), 1u);
    EXPECT_EQ(d.takeReports(), (std::vector<std::string>{
                                   "handshake left unanswered",
                                   "handshake left unanswered",
                                   "download 1: handshake answered",
                                   "download 1: script played",
                               }));
}

TEST(DeviceHandshake, NoiseComesBeforeTheGoodReply) {
    DeviceOptions o;
    o.noise = 5;
    DeviceModel d = makeDevice(kTiny, o);
    const Bytes reply = feed(d, kHello);
    ASSERT_EQ(reply.size(), 7u);
    EXPECT_EQ(Bytes(reply.end() - 2, reply.end()), kReady);
    EXPECT_EQ(feed(d, {0x5A, 0x01}), Bytes{0x91}) << "noise does not disturb the download";
}

TEST(DeviceHandshake, LateDelaysEveryReplyHandshakeIncluded) {
    DeviceOptions o;
    o.late = Millis{120};
    DeviceModel d = makeDevice(kTiny, o);
    EXPECT_EQ(replies(d, kHello), (std::vector<Reply>{{kReady, Millis{120}}}));
    EXPECT_EQ(replies(d, {0x5A, 0x01}), (std::vector<Reply>{{{0x91}, Millis{120}}}));
}

// --- Playing the script ----------------------------------------------------------

TEST(DevicePlay, AnswersEachRWhenItsTBytesHaveArrivedAndThenFinishes) {
    DeviceModel d = makeDevice(kTiny);
    feed(d, kHello);
    EXPECT_TRUE(feed(d, {0x5A}).empty());
    EXPECT_EQ(feed(d, {0x01}), Bytes{0x91});
    EXPECT_FALSE(d.finished());
    EXPECT_EQ(feed(d, {0x02}), Bytes{0x26});
    EXPECT_TRUE(d.finished());
    EXPECT_TRUE(d.mismatches().empty());
    EXPECT_EQ(d.completed(), 1u);
    EXPECT_TRUE(feed(d, kHello).empty()) << "without --stay the device serves one download";
}

TEST(DevicePlay, ConsecutiveRRecordsAcrossLineMarksGoOutAsOneReply) {
    DeviceModel d = makeDevice("T01:R02:E\r\n:R03:T04:R05:");
    feed(d, kHello);
    EXPECT_EQ(replies(d, {0x01}), (std::vector<Reply>{{{0x02, 0x03}, Millis{0}}}));
    EXPECT_EQ(feed(d, {0x04}), Bytes{0x05});
    EXPECT_TRUE(d.finished());
}

TEST(DevicePlay, ScriptOfTRecordsOnlyFinishesWithTheLastByte) {
    DeviceModel d = makeDevice("T01:T02:E\r\n:");
    feed(d, kHello);
    EXPECT_TRUE(feed(d, {0x01, 0x02}).empty());
    EXPECT_TRUE(d.finished());
}

TEST(DevicePlay, LeadingRRecordsWaitUntilTheHostHasJudgedTheHandshake) {
    DeviceModel d = makeDevice("R05:R06:T01:");
    const std::vector<Reply> r = replies(d, kHello);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0], (Reply{kReady, Millis{0}}));
    EXPECT_EQ(r[1], (Reply{{0x05, 0x06}, kLeadInDelay}));
}

TEST(DevicePlay, MismatchIsReportedAndTheNextRIsAnsweredWrongly) {
    DeviceModel d = makeDevice(kTiny);
    feed(d, kHello);
    EXPECT_EQ(feed(d, {0x5A, 0x03}), Bytes{0x6E}) << "complement of 91";
    ASSERT_EQ(d.mismatches().size(), 1u);
    const Mismatch& m = d.mismatches()[0];
    EXPECT_EQ(m.download, 1u);
    EXPECT_EQ(m.position, 2u);
    EXPECT_EQ(m.record, 2u);
    EXPECT_EQ(m.expected, 0x01);
    EXPECT_EQ(m.received, 0x03);
    EXPECT_EQ(d.takeReports(),
              std::vector<std::string>{"download 1: T byte 2 (record 2) expected 01, received 03"});
    EXPECT_TRUE(d.takeReports().empty());
    EXPECT_EQ(d.phase(), DeviceModel::Phase::Stuck);
    EXPECT_TRUE(feed(d, {0x02}).empty());
    EXPECT_FALSE(d.finished());
}

TEST(DevicePlay, VerboseDeviceTellsWhatItDoes) {
    DeviceOptions o;
    o.verbose = true;
    o.wrongByteAt = 2;
    o.stay = true;
    DeviceModel d = makeDevice(kTiny, o);
    feed(d, {0xE1, 0x94, 0x5A, 0x01, 0x02});
    feed(d, {0xE1, 0x94, 0x5A, 0x01});
    feed(d, kHello);
    EXPECT_EQ(d.takeReports(), (std::vector<std::string>{
                                   "download 1: handshake answered",
                                   "download 1: record 6 answered with D9 instead of 26",
                                   "download 2: handshake answered",
                                   "download 2: the host started over",
                                   "download 3: handshake answered",
                               }));
}

TEST(DevicePlay, WrongByteAtTheNthRRecordStopsAnsweringAfterIt) {
    DeviceOptions o;
    o.wrongByteAt = 2;
    DeviceModel d = makeDevice("T01:R02:T03:R04:R05:", o);
    feed(d, kHello);
    EXPECT_EQ(feed(d, {0x01}), Bytes{0x02});
    EXPECT_EQ(feed(d, {0x03}), Bytes{0xFB}) << "only the wrong byte, not the R after it";
    EXPECT_TRUE(d.mismatches().empty());
    EXPECT_EQ(d.phase(), DeviceModel::Phase::Stuck);
}

TEST(DevicePlay, SilentFromTheNthRRecord) {
    DeviceOptions o;
    o.silentFrom = 2;
    DeviceModel d = makeDevice("T01:R02:R03:T04:R05:", o);
    feed(d, kHello);
    EXPECT_EQ(feed(d, {0x01}), Bytes{0x02});
    EXPECT_TRUE(feed(d, {0x04}).empty());
    EXPECT_FALSE(d.finished());
}

TEST(DevicePlay, UnplugWhenTheNthByteArrives) {
    DeviceOptions o;
    o.unplugAt = 3;
    DeviceModel d = makeDevice(kTiny, o);
    EXPECT_EQ(feed(d, kHello), kReady);
    EXPECT_FALSE(d.unplugged());
    EXPECT_TRUE(feed(d, {0x5A}).empty());
    EXPECT_TRUE(d.unplugged());
    EXPECT_TRUE(feed(d, {0x01}).empty());
    EXPECT_EQ(d.bytesReceived(), 4u);
}

TEST(DevicePlay, EchoingDeviceReturnsEveryByte) {
    DeviceOptions o;
    o.echo = true;
    o.late = Millis{7};
    DeviceModel d = makeDevice(kTiny, o);
    EXPECT_EQ(replies(d, {0xE1}), (std::vector<Reply>{{{0xE1}, Millis{7}}}));
    EXPECT_EQ(feed(d, {0x94, 0x5A, 0x01}), (Bytes{0x94, 0x5A, 0x01}));
    EXPECT_EQ(d.downloads(), 0u);
}

// --- Serving download after download ---------------------------------------------

TEST(DeviceStay, StartsOverAfterAFullDownload) {
    DeviceOptions o;
    o.stay = true;
    DeviceModel d = makeDevice(kTiny, o);
    for (int run = 1; run <= 3; ++run) {
        EXPECT_EQ(feed(d, kHello), kReady) << run;
        EXPECT_EQ(feed(d, {0x5A, 0x01, 0x02}), (Bytes{0x91, 0x26})) << run;
        EXPECT_FALSE(d.finished());
    }
    EXPECT_EQ(d.downloads(), 3u);
    EXPECT_EQ(d.completed(), 3u);
}

TEST(DeviceStay, StartsOverAfterAWrongAnswer) {
    DeviceOptions o;
    o.stay = true;
    o.wrongByteAt = 1;
    DeviceModel d = makeDevice(kTiny, o);
    feed(d, kHello);
    EXPECT_EQ(feed(d, {0x5A, 0x01}), Bytes{0x6E});
    EXPECT_EQ(feed(d, kHello), kReady);
    EXPECT_EQ(d.downloads(), 2u);
}

TEST(DeviceStay, AHostThatStopsInTheMiddleCanStartOverAtOnce) {
    DeviceOptions o;
    o.stay = true;
    DeviceModel d = makeDevice(kTiny, o);
    feed(d, kHello, Millis{0});
    feed(d, {0x5A}, Millis{10});
    EXPECT_EQ(feed(d, kHello, Millis{20}), kReady);
    EXPECT_TRUE(d.mismatches().empty());
    EXPECT_EQ(d.downloads(), 2u);
    EXPECT_EQ(feed(d, {0x5A, 0x01}, Millis{30}), Bytes{0x91});
}

TEST(DeviceStay, E1NotFollowedBy94IsAnOrdinaryMismatch) {
    DeviceOptions o;
    o.stay = true;
    DeviceModel d = makeDevice(kTiny, o);
    feed(d, kHello, Millis{0});
    feed(d, {0x5A}, Millis{10});
    EXPECT_TRUE(feed(d, {0xE1}, Millis{20}).empty()) << "the next byte decides";
    EXPECT_EQ(feed(d, {0x02}, Millis{20}), Bytes{0x6E});
    ASSERT_EQ(d.mismatches().size(), 1u);
    EXPECT_EQ(d.mismatches()[0].received, 0xE1);
    EXPECT_EQ(d.phase(), DeviceModel::Phase::Waiting);
}

TEST(DeviceStay, WithoutStayE194InTheMiddleIsJustWrongBytes) {
    DeviceModel d = makeDevice(kTiny);
    feed(d, kHello);
    feed(d, {0x5A});
    EXPECT_EQ(feed(d, kHello), Bytes{0x6E});
    EXPECT_EQ(d.mismatches().size(), 1u);
    EXPECT_EQ(d.downloads(), 1u);
}

TEST(DeviceStay, AQuietE1ThatTheScriptExpectsIsSettledByTheNextByte) {
    DeviceOptions o;
    o.stay = true;
    const std::string script = "T01:TE1:T33:R44:";
    DeviceModel goesOn = makeDevice(script, o);
    feed(goesOn, kHello, Millis{0});
    feed(goesOn, {0x01}, Millis{0});
    EXPECT_EQ(feed(goesOn, {0xE1, 0x33}, Millis{1000}), Bytes{0x44});
    EXPECT_TRUE(goesOn.mismatches().empty());

    DeviceModel restarts = makeDevice(script, o);
    feed(restarts, kHello, Millis{0});
    feed(restarts, {0x01}, Millis{0});
    EXPECT_EQ(feed(restarts, kHello, Millis{1000}), kReady);
    EXPECT_TRUE(restarts.mismatches().empty());
    EXPECT_EQ(restarts.downloads(), 2u);
}

// --- The line's pace ----------------------------------------------------------------

TEST(LinePace, EachByteTakesTenBitTimesAndQueuedBytesFollowBackToBack) {
    using std::chrono::nanoseconds;
    const LinePace::Clock::time_point t0{std::chrono::seconds(100)};
    LinePace line(115200);
    EXPECT_EQ(line.byteTime(), nanoseconds(86806)) << "86 805.6 ns, rounded up";
    EXPECT_EQ(line.send(t0), t0 + nanoseconds(86806));
    // Two more ready at once queue behind it: whole bit times from the run's start.
    EXPECT_EQ(line.send(t0), t0 + nanoseconds(173612));
    EXPECT_EQ(line.send(t0 + nanoseconds(1000)), t0 + nanoseconds(260417));
    // A byte ready after the line went idle starts a run of its own.
    const auto later = t0 + std::chrono::milliseconds(5);
    EXPECT_EQ(line.send(later), later + nanoseconds(86806));
    EXPECT_EQ(line.freeAt(), later + nanoseconds(86806));

    // A million bytes back to back do not drift by the rounding of one byte time.
    LinePace run(115200);
    LinePace::Clock::time_point last;
    for (int i = 0; i < 1'000'000; ++i) {
        last = run.send(t0);
    }
    EXPECT_EQ(last, t0 + nanoseconds(86'805'555'556)) << "10 000 000 bits at 115200 baud";

    LinePace unpaced;
    EXPECT_FALSE(unpaced.paced());
    EXPECT_EQ(unpaced.send(t0), t0);
    EXPECT_EQ(unpaced.send(t0), t0);
}

}  // namespace
}  // namespace reburn3::sim
