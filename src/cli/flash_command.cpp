// SPDX-License-Identifier: Apache-2.0
#include "cli/flash_command.h"

#include "cli/flash_session.h"
#include "cli/port_gang.h"
#include "cli/station_loop.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>

#include "adapters/qt_serial_driver.h"
#include "app/form1.h"
#include "app/startup.h"
#include "app/version.h"
#include "base/clock.h"
#include "base/messages.h"
#include "cli/cli_texts.h"
#include "cli/console_desktop.h"
#include "cli/exit_codes.h"
#include "cli/handshake_limit.h"
#include "cli/json_result.h"
#include "cli/output_files.h"
#include "cli/port_diagnosis.h"
#include "cli/port_identity.h"
#include "cli/port_path.h"
#include "cli/precise_tick_timer.h"
#include "cli/recording_driver.h"
#include "cli/run_report.h"
#include "cli/run_stats.h"
#include "cli/script_problem.h"
#include "cli/script_snapshot.h"
#include "cli/sha256_digest.h"
#include "cli/signal_watcher.h"
#include "cli/verdict.h"
#include "script/script_check.h"
#include "script/script_file.h"
#include "script/script_format.h"
#include "script/script_stream.h"
#include "serial/device_loss.h"
#include "serial/port_map.h"

namespace reburn3::cli {

namespace {

std::string absolutePath(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

std::string nowUtc() {
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toStdString();
}

// The device a --port value stands for: the mapped device of COMn, else the path.
std::string resolvedDevice(const std::string& port) {
    if (const std::optional<int> com = parseComName(port)) {
        return portDevice(*com);
    }
    return resolvePortPath(port);
}

// The largest script a run can play: the most records it counts, four bytes each.
constexpr std::uint64_t kLargestScript = kMaxRecords * script::kRecordSize;

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
    PortGang gang(context, ports, 0);
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

RunResult baseResult(const FlashOptions& options) {
    RunResult r;
    r.version = programVersion();
    r.commit = buildCommit();
    r.port = options.port;
    // A port named by identity that matched no one device has no device.
    r.device = options.port.empty() || namesByIdentity(options.port) ? std::string()
                                                                     : resolvedDevice(options.port);
    r.script = options.script.empty() ? std::string() : absolutePath(options.script);
    r.startedAt = nowUtc();
    return r;
}

void reportNotStarted(RunReason reason, const std::string& detail, const FlashOptions& options) {
    endBeforeRun(baseResult(options), reason, detail, options, nullptr);
}

std::optional<SharedProblem> openShared(FlashContext& context, ScriptSnapshot& snapshot) {
    const FlashOptions& options = context.options;
    std::string error;
    // The files written besides the output, before the port is touched; none of them may
    // be a file the command reads or sends to, or the other one, which they are judged
    // against by device and inode (and by name, for a port that is not there yet) before
    // anything is written.
    const std::string scriptPath = resolveScriptPath(options.script);
    std::vector<ProtectedFile> guarded{
        {identityOfPath(scriptPath), "the script to download", resolvedName(scriptPath)}};
    for (const std::string& port :
         options.ports.empty() ? std::vector<std::string>{options.port} : options.ports) {
        const std::string device = resolvedDevice(port);
        guarded.push_back({identityOfPath(device), "the port " + port, resolvedName(device)});
    }
    if (options.json) {
        guarded.push_back({identityOfDescriptor(STDOUT_FILENO),
                           "the standard output, which carries the JSON Lines",
                           {}});
    }
    if (!options.logPath.empty() && !context.log.open(options.logPath, guarded, error)) {
        return SharedProblem{
            RunReason::OutputUnwritable,
            "cannot write the log file " + displayName(options.logPath) + ": " + error};
    }
    if (context.log.isOpen()) {
        guarded.push_back({context.log.identity(), "the log file " + displayName(options.logPath),
                           resolvedName(options.logPath)});
    }
    if (!options.tracePath.empty() && !context.trace.open(options.tracePath, guarded, error)) {
        return SharedProblem{
            RunReason::OutputUnwritable,
            "cannot write the trace file " + displayName(options.tracePath) + ": " + error};
    }
    context.trace.begin();
    auto script = std::make_shared<ScriptFile>();
    if (!script->open(resolveScriptPath(options.script))) {
        return SharedProblem{RunReason::ScriptUnreadable, scriptOpenProblem(options.script)};
    }
    context.script = script;
    // A file larger than the most records a run can count could only be refused by the
    // check: it is refused now, before it is copied.
    struct stat size {};
    if (::stat(resolveScriptPath(options.script).c_str(), &size) == 0 &&
        static_cast<std::uint64_t>(size.st_size) > kLargestScript) {
        return SharedProblem{RunReason::ScriptUnreadable,
                             "it holds " + std::to_string(size.st_size) +
                                 " bytes, more than the largest a run can play (" +
                                 std::to_string(kLargestScript) +
                                 " bytes: " + std::to_string(kMaxRecords) + " records)"};
    }
    // No place for the copy is the machine's fault, not the script's.
    if (!snapshot.create(error, static_cast<std::uint64_t>(size.st_size))) {
        return SharedProblem{RunReason::OutputUnwritable,
                             std::string(texts::kNoScriptCopy) + error};
    }
    context.snapshot = &snapshot;
    return std::nullopt;
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
