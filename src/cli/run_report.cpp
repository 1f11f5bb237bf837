// SPDX-License-Identifier: Apache-2.0
#include "cli/run_report.h"

#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

#include "cli/standard_output.h"
#include "run/exit_codes.h"
#include "run/json_result.h"
#include "run/run_end.h"
#include "run/run_texts.h"
#include "run/verdict.h"

namespace reburn3::cli {

namespace {

// Whether every line written to standard output so far went out; if not, a torn last
// line is cut off.
bool outputWhole() {
    std::fflush(stdout);
    if (std::ferror(stdout) == 0) {
        return true;
    }
    cutToLastWholeLine();
    return false;
}

// Writes the JSON result and its newline to standard output whole, or not at all where
// standard output is a file that can be cut back (a full disk): a reader never gets a
// torn result. False with the system's words when it could not be written.
bool writeJsonLine(const QJsonObject& object, std::string& error) {
    QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact);
    line += '\n';
    const char* data = line.constData();
    auto left = static_cast<std::size_t>(line.size());
    std::size_t written = 0;
    while (left > 0) {
        const long n = writeStandardOutput(data + written, left);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = std::strerror(n < 0 ? errno : ENOSPC);
            if (written > 0) {
                cutToLastWholeLine();
            }
            return false;
        }
        written += static_cast<std::size_t>(n);
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

RunResult tellEnd(const RunEnd& end, QJsonObject* jsonTold) {
    RunResult result = end.result;
    std::string logFailure = end.logFailure;
    const FlashOptions& options = end.options;
    // JSON Lines that did not go out whole before the result (a full disk): the output
    // is incomplete, which the result and the verdict tell.
    if (options.json && !outputWhole()) {
        result.exitCode = kExitLogFailed;
        addFailure(logFailure, std::string(texts::kJsonLinesLost));
    }
    if (options.json || jsonTold != nullptr) {
        const QJsonObject object = resultObject(result, logFailure, options.tags, end.extra);
        std::string error;
        if (options.json && !writeJsonLine(object, error)) {
            // No result reached its reader: the exit code and the verdict say so.
            result.exitCode = kExitLogFailed;
            addFailure(logFailure, std::string(texts::kJsonFailed) + error);
        }
        if (jsonTold != nullptr) {
            *jsonTold = object;
        }
    }
    // A usage error has had its own line already. The verdict is the last word: it tells
    // of every record that was lost.
    if (result.reason != RunReason::Usage || logFailed(result)) {
        std::fprintf(stderr, "%s%s\n", end.prefix.c_str(), verdictLine(result, logFailure).c_str());
        std::fflush(stderr);
    }
    return result;
}

RunResult reportEnd(const RunResult& told, const FlashOptions& options, AppendLog* log,
                    const QJsonObject& extra, const std::string& prefix, QJsonObject* jsonTold,
                    const TraceFile* trace) {
    return tellEnd(recordEnd(told, options, log, trace, extra, prefix), jsonTold);
}

std::string summaryTable(const std::vector<RunResult>& results) {
    std::size_t portWidth = 4;
    for (const RunResult& r : results) {
        portWidth = std::max(portWidth, displayName(r.port).size());
    }
    const bool rounds =
        std::any_of(results.begin(), results.end(), [](const RunResult& r) { return r.round > 0; });
    char buf[512];
    auto row = [&](const std::string& port, const std::string& round, const std::string& outcome,
                   const std::string& reason, const std::string& records, const std::string& time) {
        if (rounds) {
            std::snprintf(buf, sizeof buf, "%-*s  %5s  %-17s  %-17s  %15s  %9s\n",
                          static_cast<int>(portWidth), port.c_str(), round.c_str(), outcome.c_str(),
                          reason.c_str(), records.c_str(), time.c_str());
        } else {
            std::snprintf(buf, sizeof buf, "%-*s  %-17s  %-17s  %15s  %9s\n",
                          static_cast<int>(portWidth), port.c_str(), outcome.c_str(),
                          reason.c_str(), records.c_str(), time.c_str());
        }
        return std::string(buf);
    };
    std::string out = row("port", "round", "outcome", "reason", "records", "time");
    for (const RunResult& r : results) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f s", static_cast<double>(r.durationMs) / 1000);
        out += row(
            displayName(r.port), std::to_string(r.round), std::string(resultName(r)),
            r.outcome == RunOutcome::Completed && !logFailed(r) ? "-" : std::string(reasonWord(r)),
            std::to_string(r.recordsDone) + "/" + std::to_string(r.records), seconds);
    }
    return out;
}

namespace {

// How many failed boards the command's verdict names; the rest are counted.
constexpr std::size_t kFailuresNamed = 3;

// A failed board as the command's verdict names it: "/dev/ttyUSB2 wrong byte at line 7".
std::string failureOf(const RunResult& r) {
    std::string words(reasonWord(r));
    std::replace(words.begin(), words.end(), '-', ' ');
    std::string out = displayName(r.port);
    if (r.round > 0) {
        out += " (round " + std::to_string(r.round) + ")";
    }
    out += " " + words;
    if (r.scriptLine > 0) {
        out += " at line " + std::to_string(r.scriptLine);
    }
    return out;
}

QString text(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace

void reportCommandEnd(const std::vector<RunResult>& results, int exitCode,
                      const FlashOptions& options) {
    std::size_t completed = 0;
    std::vector<std::string> failures;
    std::map<std::string, int> reasons;
    QJsonArray ports;
    for (const RunResult& r : results) {
        const bool ok = r.exitCode == kExitCompleted;
        completed += ok ? 1 : 0;
        if (!ok) {
            failures.push_back(failureOf(r));
            ++reasons[std::string(reasonWord(r))];
        }
        QJsonObject port;
        port.insert("port", text(r.port));
        if (r.round > 0) {
            port.insert("round", r.round);
        }
        port.insert("result", text(resultName(r)));
        port.insert("reason", text(reasonWord(r)));
        port.insert("exitCode", r.exitCode);
        port.insert("attempts", r.attempts);
        ports.append(port);
    }
    std::string line = exitCode == kExitCompleted
                           ? "reburn3: DONE: "
                           : "reburn3: FAILED (exit " + std::to_string(exitCode) + "): ";
    line +=
        std::to_string(completed) + " of " + std::to_string(results.size()) + " boards completed";
    for (std::size_t i = 0; i < failures.size() && i < kFailuresNamed; ++i) {
        line += "; " + failures[i];
    }
    if (failures.size() > kFailuresNamed) {
        line += "; " + std::to_string(failures.size() - kFailuresNamed) + " more failed";
    }
    std::fprintf(stderr, "%s%s\n", line.c_str(), failures.empty() ? "." : "");
    std::fflush(stderr);
    if (!options.json) {
        return;
    }
    QJsonObject boards;
    boards.insert("total", static_cast<qint64>(results.size()));
    boards.insert("completed", static_cast<qint64>(completed));
    boards.insert("failed", static_cast<qint64>(results.size() - completed));
    QJsonObject byReason;
    for (const auto& [word, count] : reasons) {
        byReason.insert(text(word), count);
    }
    QJsonObject summary;
    summary.insert("type", "summary");
    summary.insert("exitCode", exitCode);
    summary.insert("boards", boards);
    summary.insert("reasons", byReason);
    summary.insert("ports", ports);
    std::printf("%s\n", QJsonDocument(summary).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
}

}  // namespace reburn3::cli
