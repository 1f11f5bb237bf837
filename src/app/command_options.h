// SPDX-License-Identifier: Apache-2.0
// The options each command takes, in one table per command: the command line's parsers
// read them, and so does the shell completion (through `reburn3 __complete`), so that the
// completion offers exactly what the commands accept.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace reburn3 {

// What follows an option.
enum class OptionValue {
    None,            // a flag
    Text,            // a number, a key, a hash: nothing to complete
    File,            // a file name
    Port,            // COM1 to COM8 or a serial device
    Choice,          // one of `choices`
    OptionalChoice,  // nothing, or "=" and one of `choices`
};

struct OptionSpec {
    std::string_view name;       // the long name, without "--"
    char shortName;              // 0: none
    std::string_view valueName;  // as the help shows it; empty for a flag
    OptionValue value;
    std::string_view choices;  // space-separated, for Choice and OptionalChoice
};

inline constexpr OptionSpec kFlashOptions[] = {
    {"help", 'h', "", OptionValue::None, ""},
    {"port", 'p', "DEVICE", OptionValue::Port, ""},
    {"station", 0, "MODE", OptionValue::OptionalChoice, "enter replug"},
    {"retries", 0, "N", OptionValue::Text, ""},
    {"retry-quiet", 0, "SECONDS", OptionValue::Text, ""},
    {"wait-for-port", 0, "SECONDS", OptionValue::Text, ""},
    {"progress", 0, "MODE", OptionValue::Choice, "bar plain none"},
    {"json", 0, "", OptionValue::None, ""},
    {"quiet", 'q', "", OptionValue::None, ""},
    {"log", 0, "FILE", OptionValue::File, ""},
    {"tag", 0, "KEY=VALUE", OptionValue::Text, ""},
    {"expect-sha256", 0, "HEX", OptionValue::Text, ""},
    {"trace", 0, "FILE", OptionValue::File, ""},
    {"repeat", 0, "N", OptionValue::Text, ""},
    {"stats", 0, "", OptionValue::None, ""},
    {"baud", 0, "RATE", OptionValue::Text, ""},
    {"reactive", 0, "", OptionValue::None, ""},
    {"handshake-limit", 0, "SECONDS", OptionValue::Text, ""},
    {"require-ack", 0, "", OptionValue::None, ""},
};

inline constexpr OptionSpec kCheckOptions[] = {
    {"help", 'h', "", OptionValue::None, ""},
    {"json", 0, "", OptionValue::None, ""},
    {"baud", 0, "RATE", OptionValue::Text, ""},
};

inline constexpr OptionSpec kPortsOptions[] = {
    {"help", 'h', "", OptionValue::None, ""},
    {"json", 0, "", OptionValue::None, ""},
};

// `reburn3 serve`: the station service.
inline constexpr OptionSpec kServeOptions[] = {
    {"help", 'h', "", OptionValue::None, ""},
    {"port", 'p', "DEVICE", OptionValue::Port, ""},
    {"listen", 0, "ADDR:PORT", OptionValue::Text, ""},
    {"db", 0, "URL", OptionValue::Text, ""},
    {"state-dir", 0, "DIR", OptionValue::File, ""},
    {"token-file", 0, "FILE", OptionValue::File, ""},
    {"allow-host", 0, "NAME", OptionValue::Text, ""},
    {"tls-cert", 0, "FILE", OptionValue::File, ""},
    {"tls-key", 0, "FILE", OptionValue::File, ""},
    {"station", 0, "NAME", OptionValue::Text, ""},
    {"require-serial", 0, "", OptionValue::None, ""},
    {"log", 0, "FILE", OptionValue::File, ""},
    {"tag", 0, "KEY=VALUE", OptionValue::Text, ""},
    {"retries", 0, "N", OptionValue::Text, ""},
    {"handshake-limit", 0, "SECONDS", OptionValue::Text, ""},
    {"expect-sha256", 0, "HEX", OptionValue::Text, ""},
    {"json", 0, "", OptionValue::None, ""},
    {"stats", 0, "", OptionValue::None, ""},
    {"quiet", 'q', "", OptionValue::None, ""},
};

// `reburn3 simulate` and `reburn3-sim`; the latter also takes --version.
inline constexpr OptionSpec kSimulateOptions[] = {
    {"help", 'h', "", OptionValue::None, ""},
    {"tty", 0, "PATH", OptionValue::File, ""},
    {"link", 0, "PATH", OptionValue::File, ""},
    {"record", 0, "FILE", OptionValue::File, ""},
    {"stay", 0, "", OptionValue::None, ""},
    {"silent-handshake", 0, "", OptionValue::None, ""},
    {"bad-handshake", 0, "", OptionValue::None, ""},
    {"noise", 0, "N", OptionValue::Text, ""},
    {"stray", 0, "", OptionValue::None, ""},
    {"wrong-byte-at", 0, "N", OptionValue::Text, ""},
    {"silent-from", 0, "N", OptionValue::Text, ""},
    {"late", 0, "MS", OptionValue::Text, ""},
    {"unplug-at", 0, "N", OptionValue::Text, ""},
    {"stop-reading-at", 0, "N", OptionValue::Text, ""},
    {"echo", 0, "", OptionValue::None, ""},
    {"lifetime", 0, "S", OptionValue::Text, ""},
    {"ignore-handshakes", 0, "N", OptionValue::Text, ""},
    {"baud", 0, "RATE", OptionValue::Text, ""},
    {"boards", 0, "N", OptionValue::Text, ""},
    {"faults-on-board", 0, "K", OptionValue::Text, ""},
    {"replug-gap", 0, "MS", OptionValue::Text, ""},
    {"link-delay", 0, "S", OptionValue::Text, ""},
    {"verbose", 'v', "", OptionValue::None, ""},
    {"version", 'V', "", OptionValue::None, ""},  // last: reburn3-sim's only
};

// The commands of `reburn3`, in the order its help lists them.
inline constexpr std::string_view kCommands[] = {"flash", "check",    "ports",
                                                 "serve", "simulate", "help"};

// The table of `command` ("flash", ..., or "reburn3-sim" for the simulator's own program);
// empty for a command without options. `reburn3 simulate` takes all but --version.
inline std::span<const OptionSpec> commandOptions(std::string_view command) {
    if (command == "flash") {
        return kFlashOptions;
    }
    if (command == "serve") {
        return kServeOptions;
    }
    if (command == "check") {
        return kCheckOptions;
    }
    if (command == "ports") {
        return kPortsOptions;
    }
    if (command == "simulate") {
        return std::span<const OptionSpec>(kSimulateOptions).first(std::size(kSimulateOptions) - 1);
    }
    if (command == "reburn3-sim") {
        return kSimulateOptions;
    }
    return {};
}

// The option of `table` that `word` names ("--port", "-p"; a long name may carry
// "=VALUE"), or null.
inline const OptionSpec* findOption(std::span<const OptionSpec> table, std::string_view word) {
    if (word.size() == 2 && word[0] == '-' && word[1] != '-') {
        for (const OptionSpec& o : table) {
            if (o.shortName == word[1]) {
                return &o;
            }
        }
        return nullptr;
    }
    if (word.substr(0, 2) != "--") {
        return nullptr;
    }
    word.remove_prefix(2);
    word = word.substr(0, word.find('='));
    for (const OptionSpec& o : table) {
        if (o.name == word) {
            return &o;
        }
    }
    return nullptr;
}

// What `__complete` answers for a table: a line for each option's name, then what it
// takes: "--port port", "-p port", "--json flag", "--log file", "--retries text",
// "--progress choice bar plain none", "--station optional enter replug" (a value only
// after "=").
inline std::string completionLines(std::span<const OptionSpec> table) {
    std::string out;
    for (const OptionSpec& o : table) {
        std::string kind;
        switch (o.value) {
            case OptionValue::None:
                kind = "flag";
                break;
            case OptionValue::Text:
                kind = "text";
                break;
            case OptionValue::File:
                kind = "file";
                break;
            case OptionValue::Port:
                kind = "port";
                break;
            case OptionValue::Choice:
                kind = "choice " + std::string(o.choices);
                break;
            case OptionValue::OptionalChoice:
                kind = "optional " + std::string(o.choices);
                break;
        }
        out += "--" + std::string(o.name) + " " + kind + "\n";
        if (o.shortName != 0) {
            out += std::string("-") + o.shortName + " " + kind + "\n";
        }
    }
    return out;
}

}  // namespace reburn3
