// SPDX-License-Identifier: Apache-2.0
#include "run/run_context.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>

#include <filesystem>
#include <vector>

#include "base/version.h"
#include "engine/engine.h"
#include "run/port_identity.h"
#include "run/port_resolution.h"
#include "run/run_texts.h"
#include "run/script_problem.h"
#include "run/script_snapshot.h"
#include "run/verdict.h"
#include "script/script_file.h"
#include "script/script_format.h"
#include "serial/port_map.h"

namespace reburn3::run {

namespace {

std::string absolutePath(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

// The largest script a run can play: the most records it counts, four bytes each.
constexpr std::uint64_t kLargestScript = kMaxRecords * script::kRecordSize;

}  // namespace

std::string nowUtc() {
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toStdString();
}

RunResult baseResult(const FlashOptions& options) {
    RunResult r;
    r.version = programVersion();
    r.commit = buildCommit();
    r.port = options.port;
    // A port named by identity that matched no one device has no device.
    r.device = options.port.empty() || namesByIdentity(options.port) ? std::string()
                                                                     : deviceOf(options.port);
    r.script = options.script.empty() ? std::string() : absolutePath(options.script);
    r.startedAt = nowUtc();
    return r;
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
        const std::string device = deviceOf(port);
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

}  // namespace reburn3::run
