// SPDX-License-Identifier: Apache-2.0
// The options a command takes, in one table per command, and what is drawn from it: the
// parse of the command's words, the check of each value, the options part of its --help
// (from which the man pages are made) and the lines the shell completion reads. A command
// keeps its table beside its code and only reads the parsed values into its own options.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace reburn3 {

// What follows an option, and how its value is checked.
enum class OptionValue {
    None,            // a flag
    Text,            // free text: a key, a name, an address
    File,            // a file name
    Port,            // COM1 to COM8 or a serial device
    Choice,          // one of `choices`
    OptionalChoice,  // nothing (the first of `choices`), or "=" and one of `choices`
    Integer,         // a whole number from `least` to `most`
    Decimal,         // a number from `least` to `most` (0 too with `zeroAllowed`)
    Sha256,          // 64 hex digits, in any case
};

// One option of a command, written as a chain: OptionSpec("retries").takes(
// OptionValue::Integer, "N").between(0, 100).refusing("...").says("...").
struct OptionSpec {
    std::string_view name;       // the long name, without "--"
    char shortName = 0;          // 0: none
    std::string_view valueName;  // as the help shows it; empty for a flag
    OptionValue value = OptionValue::None;
    std::string_view choices;  // space-separated, for Choice and OptionalChoice
    // The help's text, its lines apart by '\n' and aligned at the help's column.
    std::string_view description;
    // The bounds of an Integer or a Decimal.
    double least = 0;
    double most = std::numeric_limits<double>::max();
    bool leastExcluded = false;  // more than `least`, not `least` itself
    bool zeroAllowed = false;    // 0 too, below `least` (a limit of 0: none)
    bool notEmpty = false;       // an empty value is refused
    // What is wrong with a value that fails the check; "{}" stands for the value.
    std::string_view problem;

    constexpr explicit OptionSpec(std::string_view longName, char shortLetter = 0)
        : name(longName), shortName(shortLetter) {}
    constexpr OptionSpec takes(OptionValue kind, std::string_view shownAs) const {
        OptionSpec o = *this;
        o.value = kind;
        o.valueName = shownAs;
        return o;
    }
    constexpr OptionSpec among(std::string_view words) const {
        OptionSpec o = *this;
        o.choices = words;
        return o;
    }
    constexpr OptionSpec between(double from, double to) const {
        OptionSpec o = *this;
        o.least = from;
        o.most = to;
        return o;
    }
    constexpr OptionSpec above(double from, double to) const {
        OptionSpec o = between(from, to);
        o.leastExcluded = true;
        return o;
    }
    constexpr OptionSpec orZero() const {
        OptionSpec o = *this;
        o.zeroAllowed = true;
        return o;
    }
    constexpr OptionSpec nonEmpty() const {
        OptionSpec o = *this;
        o.notEmpty = true;
        return o;
    }
    constexpr OptionSpec refusing(std::string_view text) const {
        OptionSpec o = *this;
        o.problem = text;
        return o;
    }
    constexpr OptionSpec says(std::string_view text) const {
        OptionSpec o = *this;
        o.description = text;
        return o;
    }
};

// How a command's words are read.
struct ParseRules {
    // "-qp COM1" as -q -p COM1, "-pCOM1" and "-p=COM1" as -p COM1; else a single-dash
    // word is one option ("-v") and longer ones are unknown.
    bool joinedShortOptions = false;
    // A number may have blanks around it and a leading '+', as people type them.
    bool lenientNumbers = false;
};

// What went wrong in a command's words.
struct OptionProblem {
    enum class Kind {
        Unknown,          // no such option
        MissingValue,     // the option's value is missing at the end of the words
        UnexpectedValue,  // "--flag=VALUE"
        BadValue,         // the value fails the option's check
    };
    Kind kind = Kind::Unknown;
    std::string word;  // the option as written, up to any "=": "--bogus", "-q", "-vh"
    std::string name;  // its name without dashes: "bogus", "q"
    const OptionSpec* entry = nullptr;  // null for an unknown option
    std::string value;                  // the value refused (BadValue)
};

// The options found in a command's words and the words that are no option.
class ParsedOptions {
public:
    bool isSet(std::string_view name) const;
    // The last value given (an option given twice keeps its last), or empty.
    const std::string& value(std::string_view name) const;
    // Every value given, in order ("--port A --port B").
    std::vector<std::string> values(std::string_view name) const;
    // The last value as a number, once checkValues() has passed it.
    double number(std::string_view name) const;

    std::vector<std::string> positional;
    // The problems of the words, in the order met; checkValues() finds the values' own.
    std::vector<OptionProblem> problems;

private:
    friend ParsedOptions parseOptions(std::span<const OptionSpec>, std::span<const std::string>,
                                      const ParseRules&);
    friend std::optional<OptionProblem> checkValues(std::span<const OptionSpec>, ParsedOptions&,
                                                    const ParseRules&);
    struct Found {
        const OptionSpec* entry;
        std::vector<std::string> values;
        double number = 0;
    };
    const Found* find(std::string_view name) const;
    std::vector<Found> m_found;
};

// Reads `words` (those after the command's name) against `table`. "--" ends the options;
// a lone "-" is a word that is no option. The values are the bytes given, whatever their
// encoding.
ParsedOptions parseOptions(std::span<const OptionSpec> table, std::span<const std::string> words,
                           const ParseRules& rules = {});

// Checks the last value of every option given, in the table's order; the first that fails
// its option's check, if any.
std::optional<OptionProblem> checkValues(std::span<const OptionSpec> table, ParsedOptions& parsed,
                                         const ParseRules& rules = {});

// The option's own words for a value that fails its check: `problem` with the value put in.
std::string problemText(const OptionProblem& problem);

// The options part of a --help: each option with its value name ("-p, --port DEVICE",
// "--station[=enter|replug]"), its text from `column` on (on a line of its own when the
// names reach the column). `endOfOptions`, when given, is the text of a last line for
// "--".
std::string optionHelp(std::span<const OptionSpec> table, std::size_t column,
                       std::string_view endOfOptions = {});

// What `__complete` answers for a table: a line for each option's name, then what it
// takes: "--port port", "-p port", "--json flag", "--log file", "--retries text",
// "--progress choice bar plain none", "--station optional enter replug" (a value only
// after "=").
std::string completionLines(std::span<const OptionSpec> table);

}  // namespace reburn3
