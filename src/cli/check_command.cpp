// SPDX-License-Identifier: Apache-2.0
#include "cli/check_command.h"

#include "cli/command_line.h"
#include "cli/info_commands.h"
#include "run/exit_codes.h"

namespace reburn3::cli {

namespace {

constexpr OptionSpec kCheckOptions[] = {
    OptionSpec("json").says("one JSON object on standard output (also for a usage error);\n"
                            "faults as {record, offset, message}"),
    OptionSpec("baud")
        .takes(OptionValue::Integer, "RATE")
        .between(1, 10'000'000)
        .refusing("--baud takes a line rate in baud, 1 to 10000000")
        .says("the least times on a line of RATE baud (1 to 10000000)"),
    OptionSpec("help", 'h').says("this help"),
};

}  // namespace

std::span<const OptionSpec> checkOptionTable() {
    return kCheckOptions;
}

std::string checkHelp() {
    return "Usage: reburn3 check [--json] [--baud RATE] [--] SCRIPT\n"
           "\n"
           "Checks the whole of SCRIPT without opening a port: prints its SHA-256 (as\n"
           "`flash --expect-sha256` takes it), records, script lines, bytes to send and to\n"
           "verify, and the least time a download can take at 5 ms ticks against a device\n"
           "that answers at once; or the faults found (exit 3), and a hint when the file\n"
           "looks like a known wrong format.\n"
           "Without --baud the line is taken as infinitely fast. With --baud RATE the\n"
           "bytes cross a line of RATE baud at 10 bits a byte: the least time on ticks\n"
           "counts the whole ticks each answer waits for, and the least time with\n"
           "--reactive is the line's own limit.\n"
           "\n"
           "Options:\n" +
           optionHelp(kCheckOptions, kNarrowHelpColumn, "ends the options") + "\n" +
           std::string(checkExitCodeHelp());
}

int checkCommand(int argc, char** argv) {
    const std::vector<std::string> words = commandWords(argc, argv);
    ParsedOptions parsed = parseOptions(kCheckOptions, words, kCommandLineRules);
    if (const std::string problem = wordsProblem(parsed); !problem.empty()) {
        return infoUsageError(problem, "check", words);
    }
    if (parsed.isSet("help")) {
        printHelp(checkHelp());
        return kExitCompleted;
    }
    if (parsed.positional.size() != 1) {
        return infoUsageError(
            parsed.positional.empty() ? "no script given" : "give exactly one script", "check",
            words);
    }
    if (const std::optional<OptionProblem> bad =
            checkValues(kCheckOptions, parsed, kCommandLineRules)) {
        return infoUsageError(valueProblem(*bad), "check", words);
    }
    const auto lineBaud = static_cast<std::uint32_t>(parsed.number("baud"));
    return runCheck(parsed.positional.front(), parsed.isSet("json"), lineBaud);
}

}  // namespace reburn3::cli
