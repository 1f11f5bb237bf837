// SPDX-License-Identifier: Apache-2.0
#include "run/run_end.h"

#include <QJsonDocument>

#include "run/exit_codes.h"
#include "run/host_name.h"
#include "run/json_result.h"
#include "run/run_texts.h"
#include "run/verdict.h"

namespace reburn3::run {

void addFailure(std::string& failures, const std::string& failure) {
    failures += (failures.empty() ? "" : "; ") + failure;
}

std::size_t worstLogLine(const RunResult& base, const FlashOptions& options) {
    constexpr std::size_t kRunsAdd = 4096;
    return static_cast<std::size_t>(
               QJsonDocument(logJson(base, options.tags, hostName(), options.stationName))
                   .toJson(QJsonDocument::Compact)
                   .size()) +
           kRunsAdd;
}

RunEnd recordEnd(const RunResult& told, const FlashOptions& options, AppendLog* log,
                 const TraceFile* trace, const QJsonObject& extra, const std::string& prefix) {
    RunEnd end{told, {}, options, extra, prefix};
    RunResult& result = end.result;
    // A trace that lost bytes (a full disk) is a lost record of the download as a log
    // line is, and every record written after this says so.
    if (trace != nullptr && trace->isOpen() && !trace->problem().empty()) {
        result.exitCode = kExitLogFailed;
        addFailure(end.logFailure, std::string(texts::kTraceFailed) +
                                       displayName(options.tracePath) + ": " + trace->problem());
    }
    // The record first: a line that could not be written is the command's failure, and
    // the verdict and the JSON result must say so.
    if (log != nullptr && log->isOpen()) {
        const QByteArray line =
            QJsonDocument(logJson(result, options.tags, hostName(), options.stationName))
                .toJson(QJsonDocument::Compact);
        std::string error;
        if (!log->append(line.toStdString(), error)) {
            result.exitCode = kExitLogFailed;
            addFailure(end.logFailure, std::string(texts::kLogFailed) +
                                           displayName(options.logPath) + ": " + error);
        }
    }
    return end;
}

QJsonObject resultObject(const RunResult& result, const std::string& logFailure, const Tags& tags,
                         const QJsonObject& extra) {
    QJsonObject object = resultJson(result, tags);
    if (logFailed(result)) {
        // The log's failure is the result's detail; the download's own moves aside.
        object.insert("detail", QString::fromStdString(logFailure));
        if (!result.detail.empty()) {
            object.insert("runDetail", QString::fromStdString(result.detail));
        }
    }
    for (auto it = extra.begin(); it != extra.end(); ++it) {
        object.insert(it.key(), it.value());
    }
    return object;
}

}  // namespace reburn3::run
