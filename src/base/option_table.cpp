// SPDX-License-Identifier: Apache-2.0
#include "base/option_table.h"

#include <algorithm>
#include <charconv>

namespace reburn3 {

namespace {

const OptionSpec* longOption(std::span<const OptionSpec> table, std::string_view name) {
    for (const OptionSpec& o : table) {
        if (o.name == name) {
            return &o;
        }
    }
    return nullptr;
}

const OptionSpec* shortOption(std::span<const OptionSpec> table, char name) {
    for (const OptionSpec& o : table) {
        if (o.shortName != 0 && o.shortName == name) {
            return &o;
        }
    }
    return nullptr;
}

// An option that takes the next word (or the rest of its own) as its value.
bool takesWord(const OptionSpec& o) {
    return o.value != OptionValue::None && o.value != OptionValue::OptionalChoice;
}

std::string_view firstChoice(std::string_view choices) {
    return choices.substr(0, choices.find(' '));
}

bool isChoice(std::string_view choices, std::string_view word) {
    while (!choices.empty()) {
        const std::size_t space = choices.find(' ');
        if (choices.substr(0, space) == word) {
            return true;
        }
        choices = space == std::string_view::npos ? std::string_view() : choices.substr(space + 1);
    }
    return false;
}

// The text of a number as the parse reads it: with lenient rules, blanks around it and one
// leading '+' are left out.
std::string_view numberText(std::string_view text, const ParseRules& rules) {
    if (!rules.lenientNumbers) {
        return text;
    }
    constexpr std::string_view kBlanks = " \t\n\v\f\r";
    const std::size_t from = text.find_first_not_of(kBlanks);
    if (from == std::string_view::npos) {
        return {};
    }
    text = text.substr(from, text.find_last_not_of(kBlanks) - from + 1);
    if (text.size() > 1 && text[0] == '+' && text[1] != '-' && text[1] != '+') {
        text.remove_prefix(1);
    }
    return text;
}

// The number `text` holds, whole or not, or nothing when it holds anything else.
std::optional<double> readNumber(std::string_view text, bool whole, const ParseRules& rules) {
    text = numberText(text, rules);
    if (text.empty()) {
        return std::nullopt;
    }
    const char* end = text.data() + text.size();
    if (whole) {
        // Without lenient rules a count has no sign at all.
        if (!rules.lenientNumbers) {
            std::uint64_t n = 0;
            const auto [ptr, ec] = std::from_chars(text.data(), end, n);
            return ec == std::errc() && ptr == end ? std::optional<double>(static_cast<double>(n))
                                                   : std::nullopt;
        }
        long long n = 0;
        const auto [ptr, ec] = std::from_chars(text.data(), end, n);
        return ec == std::errc() && ptr == end ? std::optional<double>(static_cast<double>(n))
                                               : std::nullopt;
    }
    double d = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), end, d);
    return ec == std::errc() && ptr == end ? std::optional<double>(d) : std::nullopt;
}

bool inRange(const OptionSpec& o, double v) {
    if (o.zeroAllowed && v == 0) {
        return true;
    }
    const bool aboveLeast = o.leastExcluded ? v > o.least : v >= o.least;
    return aboveLeast && v <= o.most;
}

bool isSha256(std::string_view text) {
    if (text.size() != 64) {
        return false;
    }
    for (const char c : text) {
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!hex) {
            return false;
        }
    }
    return true;
}

// The check of one value; its number when it is one.
bool valueAccepted(const OptionSpec& o, const std::string& value, double& number,
                   const ParseRules& rules) {
    if (o.notEmpty && value.empty()) {
        return false;
    }
    switch (o.value) {
        case OptionValue::None:
        case OptionValue::Text:
        case OptionValue::File:
        case OptionValue::Port:
            return true;
        case OptionValue::Choice:
        case OptionValue::OptionalChoice:
            return isChoice(o.choices, value);
        case OptionValue::Integer:
        case OptionValue::Decimal: {
            const std::optional<double> n =
                readNumber(value, o.value == OptionValue::Integer, rules);
            if (!n || !inRange(o, *n)) {
                return false;
            }
            number = *n;
            return true;
        }
        case OptionValue::Sha256:
            return isSha256(value);
    }
    return false;
}

std::string completionKind(const OptionSpec& o) {
    switch (o.value) {
        case OptionValue::None:
            return "flag";
        case OptionValue::File:
            return "file";
        case OptionValue::Port:
            return "port";
        case OptionValue::Choice:
            return "choice " + std::string(o.choices);
        case OptionValue::OptionalChoice:
            return "optional " + std::string(o.choices);
        case OptionValue::Text:
        case OptionValue::Integer:
        case OptionValue::Decimal:
        case OptionValue::Sha256:
            break;
    }
    return "text";
}

// "-p, --port DEVICE", "--station[=enter|replug]": the option as its help names it.
std::string helpNames(const OptionSpec& o) {
    std::string names = "  ";
    if (o.shortName != 0) {
        names += std::string("-") + o.shortName + ", ";
    }
    names += "--" + std::string(o.name);
    if (o.value == OptionValue::OptionalChoice) {
        std::string choices(o.choices);
        for (char& c : choices) {
            c = c == ' ' ? '|' : c;
        }
        names += "[=" + choices + "]";
    } else if (o.value != OptionValue::None) {
        names += " " + std::string(o.valueName);
    }
    return names;
}

void addHelpEntry(std::string& out, const std::string& names, std::string_view text,
                  std::size_t column) {
    out += names;
    if (names.size() + 2 > column) {
        out += "\n" + std::string(column, ' ');
    } else {
        out += std::string(column - names.size(), ' ');
    }
    std::size_t from = 0;
    while (true) {
        const std::size_t newline = text.find('\n', from);
        out += text.substr(from, newline - from);
        out += '\n';
        if (newline == std::string_view::npos) {
            break;
        }
        from = newline + 1;
        out += std::string(column, ' ');
    }
}

}  // namespace

const ParsedOptions::Found* ParsedOptions::find(std::string_view name) const {
    for (const Found& f : m_found) {
        if (f.entry->name == name) {
            return &f;
        }
    }
    return nullptr;
}

bool ParsedOptions::isSet(std::string_view name) const {
    return find(name) != nullptr;
}

const std::string& ParsedOptions::value(std::string_view name) const {
    static const std::string kNone;
    const Found* f = find(name);
    return f == nullptr || f->values.empty() ? kNone : f->values.back();
}

std::vector<std::string> ParsedOptions::values(std::string_view name) const {
    const Found* f = find(name);
    return f == nullptr ? std::vector<std::string>() : f->values;
}

double ParsedOptions::number(std::string_view name) const {
    const Found* f = find(name);
    return f == nullptr ? 0 : f->number;
}

ParsedOptions parseOptions(std::span<const OptionSpec> table, std::span<const std::string> words,
                           const ParseRules& rules) {
    ParsedOptions parsed;
    auto found = [&](const OptionSpec* entry) -> std::vector<std::string>& {
        for (ParsedOptions::Found& f : parsed.m_found) {
            if (f.entry == entry) {
                return f.values;
            }
        }
        parsed.m_found.push_back({entry, {}});
        return parsed.m_found.back().values;
    };
    // An option without a value of its own: a flag, or an optional choice's first.
    auto given = [&](const OptionSpec* entry) {
        std::vector<std::string>& values = found(entry);
        if (entry->value == OptionValue::OptionalChoice) {
            values.emplace_back(firstChoice(entry->choices));
        }
    };
    auto problem = [&](OptionProblem::Kind kind, const std::string& word, const OptionSpec* entry) {
        const std::size_t dashes = std::min(word.find_first_not_of('-'), word.size());
        parsed.problems.push_back({kind, word, word.substr(dashes), entry, {}});
    };
    // The value of `entry` that follows `word`: the next word, or the problem of its absence.
    auto nextWord = [&](std::size_t& i, const OptionSpec* entry, const std::string& word) {
        if (i + 1 < words.size()) {
            found(entry).push_back(words[++i]);
        } else {
            problem(OptionProblem::Kind::MissingValue, word, entry);
        }
    };
    bool optionsEnded = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (optionsEnded || word.size() < 2 || word[0] != '-') {
            parsed.positional.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        const std::size_t eq = word.find('=');
        if (word[1] == '-') {
            const std::string written = word.substr(0, eq);
            const OptionSpec* entry = longOption(table, std::string_view(written).substr(2));
            if (entry == nullptr) {
                problem(OptionProblem::Kind::Unknown, written, nullptr);
            } else if (entry->value == OptionValue::None && eq != std::string::npos) {
                problem(OptionProblem::Kind::UnexpectedValue, written, entry);
            } else if (eq != std::string::npos) {
                found(entry).push_back(word.substr(eq + 1));
            } else if (!takesWord(*entry)) {
                given(entry);
            } else {
                nextWord(i, entry, word);
            }
            continue;
        }
        if (!rules.joinedShortOptions) {
            const OptionSpec* entry = word.size() == 2 ? shortOption(table, word[1]) : nullptr;
            if (entry == nullptr) {
                problem(OptionProblem::Kind::Unknown, word.substr(0, eq), nullptr);
            } else if (takesWord(*entry)) {
                nextWord(i, entry, word);
            } else {
                given(entry);
            }
            continue;
        }
        // Joined short options: each letter an option, until one that takes a value, which
        // takes the rest of the word (after an "=") or else the next word.
        const OptionSpec* last = nullptr;
        bool valueFound = false;
        bool assigned = false;
        for (std::size_t pos = 1; pos < word.size(); ++pos) {
            last = shortOption(table, word[pos]);
            if (last == nullptr) {
                problem(OptionProblem::Kind::Unknown, std::string("-") + word[pos], nullptr);
                continue;
            }
            if (takesWord(*last)) {
                if (pos + 1 < word.size()) {
                    found(last).push_back(word.substr(pos + 1 + (word[pos + 1] == '=' ? 1 : 0)));
                    valueFound = true;
                }
                break;
            }
            given(last);
            if (pos + 1 < word.size() && word[pos + 1] == '=') {
                assigned = true;
                break;
            }
        }
        if (assigned) {
            problem(OptionProblem::Kind::UnexpectedValue, word.substr(0, eq), last);
        } else if (last != nullptr && takesWord(*last) && !valueFound) {
            nextWord(i, last, word);
        }
    }
    return parsed;
}

std::optional<OptionProblem> checkValues(std::span<const OptionSpec> table, ParsedOptions& parsed,
                                         const ParseRules& rules) {
    for (const OptionSpec& o : table) {
        for (ParsedOptions::Found& f : parsed.m_found) {
            if (f.entry != &o || f.values.empty()) {
                continue;
            }
            if (!valueAccepted(o, f.values.back(), f.number, rules)) {
                return OptionProblem{OptionProblem::Kind::BadValue, "--" + std::string(o.name),
                                     std::string(o.name), &o, f.values.back()};
            }
        }
    }
    return std::nullopt;
}

std::string problemText(const OptionProblem& problem) {
    const std::string_view text =
        problem.entry == nullptr ? std::string_view() : problem.entry->problem;
    std::string out(text);
    if (const std::size_t at = out.find("{}"); at != std::string::npos) {
        out.replace(at, 2, problem.value);
    }
    return out;
}

std::string optionHelp(std::span<const OptionSpec> table, std::size_t column,
                       std::string_view endOfOptions) {
    std::string out;
    for (const OptionSpec& o : table) {
        addHelpEntry(out, helpNames(o), o.description, column);
    }
    if (!endOfOptions.empty()) {
        addHelpEntry(out, "  --", endOfOptions, column);
    }
    return out;
}

std::string completionLines(std::span<const OptionSpec> table) {
    std::string out;
    for (const OptionSpec& o : table) {
        const std::string kind = completionKind(o);
        out += "--" + std::string(o.name) + " " + kind + "\n";
        if (o.shortName != 0) {
            out += std::string("-") + o.shortName + " " + kind + "\n";
        }
    }
    return out;
}

}  // namespace reburn3
