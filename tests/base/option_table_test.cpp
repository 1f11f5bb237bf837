// SPDX-License-Identifier: Apache-2.0
// The generic parse of a command's words against its option table: one table of cases,
// each a command line and what the parse, then the check of the values, make of it.
#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>
#include <vector>

#include "base/option_table.h"

namespace reburn3 {
namespace {

constexpr OptionSpec kTable[] = {
    OptionSpec("port", 'p').takes(OptionValue::Port, "DEVICE"),
    OptionSpec("quiet", 'q'),
    OptionSpec("retries")
        .takes(OptionValue::Integer, "N")
        .between(0, 100)
        .refusing("--retries takes a number, 0 to 100"),
    OptionSpec("wait")
        .takes(OptionValue::Decimal, "SECONDS")
        .above(0, 60)
        .refusing("--wait takes {} seconds?"),
    OptionSpec("limit")
        .takes(OptionValue::Decimal, "SECONDS")
        .between(1, 10)
        .orZero()
        .refusing("bad limit"),
    OptionSpec("progress")
        .takes(OptionValue::Choice, "MODE")
        .among("bar plain none")
        .refusing("--progress takes bar, plain or none"),
    OptionSpec("station")
        .takes(OptionValue::OptionalChoice, "MODE")
        .among("enter replug")
        .refusing("bad station"),
    OptionSpec("link").takes(OptionValue::File, "PATH").nonEmpty().refusing("--link needs a path"),
    OptionSpec("sha").takes(OptionValue::Sha256, "HEX").refusing("bad sha"),
};

constexpr ParseRules kJoined{.joinedShortOptions = true, .lenientNumbers = true};
constexpr ParseRules kStrict{};

using Kind = OptionProblem::Kind;

struct Case {
    const char* name;
    std::vector<std::string> words;
    ParseRules rules;
    // What the parse found: "name=value" for the last value of each option asked about,
    // the positional words, and the first problem ("" for none) as "kind word".
    std::vector<std::string> expectSet;
    std::vector<std::string> positional;
    std::string problem;
};

// A case is shown by its name.
void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

std::string describe(const OptionProblem& p) {
    const char* kinds[] = {"unknown", "missing", "unexpected", "bad"};
    std::string out = std::string(kinds[static_cast<int>(p.kind)]) + " " + p.word;
    if (p.kind == Kind::BadValue) {
        out += ": " + problemText(p);
    }
    return out;
}

const Case kCases[] = {
    {"flag", {"--quiet", "s.pf3"}, kStrict, {"quiet="}, {"s.pf3"}, ""},
    {"value as the next word", {"--port", "COM1", "s"}, kStrict, {"port=COM1"}, {"s"}, ""},
    {"value after =", {"--port=/dev/tty=1", "s"}, kStrict, {"port=/dev/tty=1"}, {"s"}, ""},
    {"the next word even when it looks like an option",
     {"--port", "--quiet"},
     kStrict,
     {"port=--quiet"},
     {},
     ""},
    {"short option", {"-p", "COM2", "-q"}, kStrict, {"port=COM2", "quiet="}, {}, ""},
    {"joined short options", {"-qpCOM3"}, kJoined, {"quiet=", "port=COM3"}, {}, ""},
    {"joined short option with =", {"-p=COM4"}, kJoined, {"port=COM4"}, {}, ""},
    {"joined flags, value in the next word", {"-qp", "COM5"}, kJoined, {"port=COM5"}, {}, ""},
    {"joined words are unknown when not allowed",
     {"-qp", "COM5"},
     kStrict,
     {},
     {"COM5"},
     "unknown -qp"},
    {"missing value", {"s", "--port"}, kStrict, {}, {"s"}, "missing --port"},
    {"missing value of a short option", {"-p"}, kJoined, {}, {}, "missing -p"},
    {"unexpected value", {"--quiet=1"}, kStrict, {}, {}, "unexpected --quiet"},
    {"unexpected value of a joined flag", {"-q=1"}, kJoined, {}, {}, "unexpected -q"},
    {"unknown option", {"--bogus=3", "s"}, kStrict, {}, {"s"}, "unknown --bogus"},
    {"unknown short in a joined word", {"-qx"}, kJoined, {"quiet="}, {}, "unknown -x"},
    {"-- ends the options", {"--", "--quiet", "-"}, kStrict, {}, {"--quiet", "-"}, ""},
    {"a lone dash is a word", {"-"}, kStrict, {}, {"-"}, ""},
    {"repeated option keeps every value, the last counts",
     {"--port", "A", "--port=B", "--retries", "7", "--retries", "3"},
     kStrict,
     {"port=B", "retries=3"},
     {},
     ""},
    {"integer in range", {"--retries", "100"}, kStrict, {"retries=100"}, {}, ""},
    {"integer out of range",
     {"--retries", "101"},
     kStrict,
     {},
     {},
     "bad --retries: --retries takes a number, 0 to 100"},
    {"integer not a number",
     {"--retries=2x"},
     kStrict,
     {},
     {},
     "bad --retries: --retries takes a number, 0 to 100"},
    {"integer with blanks and a sign, leniently",
     {"--retries", " +5 "},
     kJoined,
     {"retries= +5 "},
     {},
     ""},
    {"integer with a sign, strictly",
     {"--retries", "+5"},
     kStrict,
     {},
     {},
     "bad --retries: --retries takes a number, 0 to 100"},
    {"decimal above its excluded least", {"--wait", "0.001"}, kStrict, {"wait=0.001"}, {}, ""},
    {"decimal at its excluded least, the value in the text",
     {"--wait", "0"},
     kStrict,
     {},
     {},
     "bad --wait: --wait takes 0 seconds?"},
    {"decimal not a number",
     {"--wait", "nan"},
     kStrict,
     {},
     {},
     "bad --wait: --wait takes nan seconds?"},
    {"zero allowed below the least", {"--limit", "0"}, kStrict, {"limit=0"}, {}, ""},
    {"between zero and the least", {"--limit", "0.5"}, kStrict, {}, {}, "bad --limit: bad limit"},
    {"choice", {"--progress", "plain"}, kStrict, {"progress=plain"}, {}, ""},
    {"not a choice",
     {"--progress=fancy"},
     kStrict,
     {},
     {},
     "bad --progress: --progress takes bar, plain or none"},
    {"optional choice alone is the first",
     {"--station", "s"},
     kStrict,
     {"station=enter"},
     {"s"},
     ""},
    {"optional choice after =", {"--station=replug"}, kStrict, {"station=replug"}, {}, ""},
    {"optional choice empty after =",
     {"--station="},
     kStrict,
     {},
     {},
     "bad --station: bad station"},
    {"empty path refused", {"--link", ""}, kStrict, {}, {}, "bad --link: --link needs a path"},
    {"sha in any case",
     {"--sha", std::string(32, 'a') + std::string(32, 'F')},
     kStrict,
     {"sha=" + std::string(32, 'a') + std::string(32, 'F')},
     {},
     ""},
    {"sha too short", {"--sha", "abc"}, kStrict, {}, {}, "bad --sha: bad sha"},
    {"bytes that are no text pass as they are",
     {"--port", "/dev/\xff"},
     kStrict,
     {"port=/dev/\xff"},
     {},
     ""},
};

class OptionParse : public ::testing::TestWithParam<Case> {};

TEST_P(OptionParse, ReadsTheWordsAgainstTheTable) {
    const Case& c = GetParam();
    ParsedOptions parsed = parseOptions(kTable, c.words, c.rules);
    std::string problem;
    if (!parsed.problems.empty()) {
        problem = describe(parsed.problems.front());
    } else if (const std::optional<OptionProblem> bad = checkValues(kTable, parsed, c.rules)) {
        problem = describe(*bad);
    }
    EXPECT_EQ(problem, c.problem);
    EXPECT_EQ(parsed.positional, c.positional);
    for (const std::string& set : c.expectSet) {
        const std::string name = set.substr(0, set.find('='));
        EXPECT_TRUE(parsed.isSet(name)) << name;
        EXPECT_EQ(parsed.value(name), set.substr(set.find('=') + 1)) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, OptionParse, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& param) {
                             std::string name;
                             for (const char ch : std::string(param.param.name)) {
                                 name +=
                                     std::isalnum(static_cast<unsigned char>(ch)) != 0 ? ch : '_';
                             }
                             return name;
                         });

// The numbers a check passes are the numbers read; every value of a repeated option is
// kept in order.
TEST(OptionParseValues, NumbersAndRepeatedValues) {
    const std::vector<std::string> words{"--retries", " 7", "--wait=2.5", "--port", "A",
                                         "-p",        "B",  "--limit",    "0"};
    ParsedOptions parsed = parseOptions(kTable, words, kJoined);
    ASSERT_TRUE(parsed.problems.empty());
    ASSERT_FALSE(checkValues(kTable, parsed, kJoined).has_value());
    EXPECT_EQ(parsed.number("retries"), 7);
    EXPECT_EQ(parsed.number("wait"), 2.5);
    EXPECT_EQ(parsed.number("limit"), 0);
    EXPECT_EQ(parsed.values("port"), (std::vector<std::string>{"A", "B"}));
    EXPECT_FALSE(parsed.isSet("quiet"));
    EXPECT_EQ(parsed.value("quiet"), "");
}

// The help lays each option out at its column, and the completion names each option and
// what follows it.
TEST(OptionHelp, LaysOutEveryOptionAndCompletesIt) {
    constexpr OptionSpec kSmall[] = {
        OptionSpec("port", 'p').takes(OptionValue::Port, "DEVICE").says("the port"),
        OptionSpec("station")
            .takes(OptionValue::OptionalChoice, "MODE")
            .among("enter replug")
            .says("rounds:\nuntil q"),
        OptionSpec("json").says("JSON"),
    };
    EXPECT_EQ(optionHelp(kSmall, 22, "ends the options"),
              "  -p, --port DEVICE   the port\n"
              "  --station[=enter|replug]\n"
              "                      rounds:\n"
              "                      until q\n"
              "  --json              JSON\n"
              "  --                  ends the options\n");
    // Names that reach the column put the text on the next line.
    EXPECT_EQ(optionHelp(std::span(kSmall).first(1), 20),
              "  -p, --port DEVICE\n"
              "                    the port\n");
    EXPECT_EQ(completionLines(kSmall),
              "--port port\n-p port\n--station optional enter replug\n--json flag\n");
}

}  // namespace
}  // namespace reburn3
