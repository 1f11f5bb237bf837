// SPDX-License-Identifier: Apache-2.0
#include "cli/run_report.h"

#include <unistd.h>

#include <QJsonDocument>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/cli_texts.h"
#include "cli/exit_codes.h"
#include "cli/json_result.h"
#include "cli/verdict.h"

namespace reburn3::cli {

namespace {

std::string hostName() {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0) {
        return {};
    }
    return buf;
}

void printJsonLine(const QJsonObject& object) {
    const QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact);
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}  // namespace

std::size_t worstLogLine(const RunResult& base, const FlashOptions& options) {
    constexpr std::size_t kRunsAdd = 4096;
    return static_cast<std::size_t>(QJsonDocument(logJson(base, options.tags, hostName()))
                                        .toJson(QJsonDocument::Compact)
                                        .size()) +
           kRunsAdd;
}

RunResult reportEnd(const RunResult& told, const FlashOptions& options, AppendLog* log,
                    const QJsonObject& extra, const std::string& prefix, QJsonObject* jsonTold) {
    RunResult result = told;
    std::string logFailure;
    // The record first: a line that could not be written is the command's failure, and
    // the verdict and the JSON result must say so.
    if (log != nullptr && log->isOpen()) {
        const QByteArray line =
            QJsonDocument(logJson(result, options.tags, hostName())).toJson(QJsonDocument::Compact);
        std::string error;
        if (!log->append(line.toStdString(), error)) {
            result.exitCode = kExitLogFailed;
            logFailure =
                std::string(texts::kLogFailed) + displayName(options.logPath) + ": " + error;
        }
    }
    // A usage error has had its own line already.
    if (result.reason != RunReason::Usage || logFailed(result)) {
        std::fprintf(stderr, "%s%s\n", prefix.c_str(), verdictLine(result, logFailure).c_str());
        std::fflush(stderr);
    }
    if (options.json || jsonTold != nullptr) {
        QJsonObject object = resultJson(result, options.tags);
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
        if (options.json) {
            printJsonLine(object);
        }
        if (jsonTold != nullptr) {
            *jsonTold = object;
        }
    }
    return result;
}

}  // namespace reburn3::cli
