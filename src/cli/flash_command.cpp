// SPDX-License-Identifier: Apache-2.0
#include "cli/flash_command.h"
#include "cli/flash_system_help.h"

#include "cli/station_loop.h"
#include "cli/terminal_listener.h"
#include "run/flash_session.h"
#include "run/port_gang.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <optional>

#include "adapters/qt_serial_driver.h"
#include "app/form1.h"
#include "app/startup.h"
#include "base/clock.h"
#include "base/messages.h"
#include "base/version.h"
#include "cli/command_line.h"
#include "cli/run_report.h"
#include "run/exit_codes.h"
#include "run/handshake_limit.h"
#include "run/json_result.h"
#include "run/output_files.h"
#include "run/port_diagnosis.h"
#include "run/port_identity.h"
#include "run/port_path.h"
#include "run/precise_tick_timer.h"
#include "run/recording_driver.h"
#include "run/run_desktop.h"
#include "run/run_stats.h"
#include "run/run_texts.h"
#include "run/script_problem.h"
#include "run/script_snapshot.h"
#include "run/sha256_digest.h"
#include "run/signal_watcher.h"
#include "run/verdict.h"
#include "script/script_check.h"
#include "script/script_file.h"
#include "script/script_format.h"
#include "script/script_stream.h"
#include "serial/device_loss.h"
#include "serial/port_map.h"

namespace reburn3::cli {

namespace {

// A command that ends before its session: nothing was sent.
int endBeforeRun(RunResult result, RunReason reason, const std::string& detail,
                 const FlashOptions& options, AppendLog* log) {
    result.reason = reason;
    result.detail = detail;
    result.endedAt = nowUtc();
    result.exitCode = exitCodeFor(result);
    return reportEnd(result, options, log).exitCode;
}

// What a long series of downloads must not let grow: resident memory (VmRSS, in kB) and
// the number of open file descriptors.
struct Resources {
    long rssKb = -1;
    long openFds = -1;
};

Resources currentResources() {
    Resources r;
    std::ifstream status("/proc/self/status");
    std::string word;
    while (status >> word) {
        if (word == "VmRSS:") {
            status >> r.rssKb;
            break;
        }
    }
    std::error_code error;
    long count = 0;
    for (std::filesystem::directory_iterator it("/proc/self/fd", error), end; !error && it != end;
         it.increment(error)) {
        ++count;
    }
    if (!error) {
        r.openFds = count;
    }
    return r;
}

// After every tenth run of a series, and after its last: how far it got and what the
// process holds.
void reportRepeat(const FlashOptions& options, int run, int code) {
    const Resources r = currentResources();
    if (options.json) {
        QJsonObject event;
        event.insert("type", "event");
        event.insert("event", "repeat");
        event.insert("run", run);
        event.insert("of", options.repeat);
        event.insert("exitCode", code);
        event.insert("vmRssKb", static_cast<qint64>(r.rssKb));
        event.insert("openFds", static_cast<qint64>(r.openFds));
        std::printf("%s\n", QJsonDocument(event).toJson(QJsonDocument::Compact).constData());
        std::fflush(stdout);
    } else {
        std::fprintf(stderr, "reburn3: run %d of %d: exit %d, VmRSS %ld kB, %ld open files\n", run,
                     options.repeat, code, r.rssKb, r.openFds);
    }
}

// One download on every port at once; with several, the summary table after them.
// Every port's result is added to `all`.
int runOnce(FlashContext& context, const std::vector<std::string>& ports,
            std::vector<RunResult>& all) {
    TerminalListener terminal;
    PortGang gang(context, ports, 0, terminal);
    const std::vector<RunResult> results = gang.run();
    std::vector<int> codes;
    for (const RunResult& r : results) {
        codes.push_back(r.exitCode);
    }
    if (ports.size() > 1) {
        std::fprintf(stderr, "%s", summaryTable(results).c_str());
        std::fflush(stderr);
    }
    all.insert(all.end(), results.begin(), results.end());
    return gangExitCode(codes);
}

}  // namespace

void reportNotStarted(RunReason reason, const std::string& detail, const FlashOptions& options) {
    endBeforeRun(baseResult(options), reason, detail, options, nullptr);
}

int runFlash(const FlashOptions& options) {
    // One watcher for the whole series, so that Ctrl-C between two runs still ends it
    // cleanly; set up first, so that no signal finds the default action any more.
    SignalWatcher watcher;
    FlashContext context{options, baseResult(options), {}, {}, watcher, nullptr, nullptr, nullptr};
    ScriptSnapshot snapshot;
    if (const std::optional<SharedProblem> problem = openShared(context, snapshot)) {
        if (problem->reason == RunReason::ScriptUnreadable && !context.script) {
            std::fprintf(stderr, "%s%s\n", std::string(text::kScriptUnreadable).c_str(),
                         displayName(options.script).c_str());
        }
        return endBeforeRun(
            context.base, problem->reason, problem->detail, options,
            context.log.isOpen() || options.logPath.empty() ? &context.log : nullptr);
    }
    // Every port's ticks come from one timerfd: N ports wake the process once a tick.
    TickClock clock(WindowModel::kTimerInterval);
    context.clock = &clock;
    const std::vector<std::string> ports =
        options.ports.empty() ? std::vector<std::string>{options.port} : options.ports;
    std::vector<RunResult> all;
    if (options.station != StationMode::Off) {
        const int code = runStation(context, ports, all);
        reportCommandEnd(all, code, options);
        return code;
    }
    int code = kExitCompleted;
    for (int run = 1; run <= options.repeat; ++run) {
        code = runOnce(context, ports, all);
        const bool last = code != kExitCompleted || run == options.repeat;
        if (options.repeat > 1 && (run % 10 == 0 || last)) {
            reportRepeat(options, run, code);
        }
        if (last) {
            break;
        }
    }
    // A single port keeps its own result as the command's last line.
    if (ports.size() > 1) {
        reportCommandEnd(all, code, options);
    }
    return code;
}

}  // namespace reburn3::cli

// The command line of `reburn3 flash`: its help, and its usage errors (its table and the
// reading of its words are the run's: run/flash_words.h).
namespace reburn3::cli {

namespace {

// A usage error of flash: the line, and with --json the result as well, so that a
// program reading the JSON is never left without one.
int flashUsageError(const std::string& message, const std::vector<std::string>& words) {
    usageError(message, "flash ");
    if (jsonAsked(words)) {
        FlashOptions options;
        options.json = true;
        reportNotStarted(RunReason::Usage, message, options);
    }
    return kExitUsage;
}

}  // namespace

std::string flashHelp() {
    return "Usage: reburn3 flash --port DEVICE|COMn [options] [--] SCRIPT\n"
           "\n"
           "Opens the port at 115200 baud 8N1, performs the BURN3 handshake and plays\n"
           "SCRIPT, exactly as the window's \"Program FLASH\" does, on a 5 ms tick.\n"
           "\n"
           "Options:\n" +
           optionHelp(flashOptionTable(), kWideHelpColumn,
                      "ends the options: a SCRIPT named \"-x.pf3\" follows it") +
           "\n"
           "Output: the first line on standard error names the version, the device, the\n"
           "script and its SHA-256; status lines go to standard output, debug lines to\n"
           "standard error; the last line on standard error, \"reburn3: DONE\", \"FAILED\"\n"
           "or \"INTERRUPTED\", says what happened, whether the device was touched and\n"
           "what to do.\n" +
           std::string(flashSystemHelp()) + "\n" + std::string(exitCodeHelp());
}

int flashCommand(int argc, char** argv) {
    const std::vector<std::string> words = commandWords(argc, argv);
    ParsedOptions parsed = parseOptions(flashOptionTable(), words, kCommandLineRules);
    if (const std::string problem = wordsProblem(parsed); !problem.empty()) {
        return flashUsageError(problem, words);
    }
    if (parsed.isSet("help")) {
        printHelp(flashHelp());
        return kExitCompleted;
    }
    FlashOptions options;
    if (const std::string problem = readScriptAndPorts(parsed, options); !problem.empty()) {
        return flashUsageError(problem, words);
    }
    if (const std::optional<OptionProblem> bad =
            checkValues(flashOptionTable(), parsed, kCommandLineRules)) {
        return flashUsageError(valueProblem(*bad), words);
    }
    if (const std::string problem = readFlashOptions(parsed, options); !problem.empty()) {
        return flashUsageError(problem, words);
    }
    // A board named by identity: the one device it names, before anything starts.
    for (std::string& p : options.ports) {
        if (!parseComName(p).has_value() && namesByIdentity(p)) {
            std::string why;
            const std::optional<std::string> device = resolveIdentity(p, why);
            if (!device) {
                options.port = p;
                reportNotStarted(RunReason::PortOpenFailed, why, options);
                return kExitPortFailed;
            }
            p = *device;
        }
    }
    options.port = options.ports.front();
    return runFlash(options);
}

}  // namespace reburn3::cli
