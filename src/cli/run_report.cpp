// SPDX-License-Identifier: Apache-2.0
#include "cli/run_report.h"

#include <unistd.h>

#include <QJsonDocument>

#include <cerrno>
#include <cstdio>
#include <cstring>

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

void reportEnd(const RunResult& result, const FlashOptions& options, AppendLog* log,
               const QJsonObject& extra, const std::string& prefix) {
    // A usage error has had its own line already.
    if (result.reason != RunReason::Usage) {
        std::fprintf(stderr, "%s%s\n", prefix.c_str(), verdictLine(result).c_str());
        std::fflush(stderr);
    }
    if (options.json) {
        QJsonObject object = resultJson(result, options.tags);
        for (auto it = extra.begin(); it != extra.end(); ++it) {
            object.insert(it.key(), it.value());
        }
        printJsonLine(object);
    }
    if (log != nullptr && log->isOpen()) {
        const QByteArray line =
            QJsonDocument(logJson(result, options.tags, hostName())).toJson(QJsonDocument::Compact);
        if (!log->append(line.toStdString())) {
            std::fprintf(stderr, "reburn3: cannot write the log file %s: %s\n",
                         displayName(options.logPath).c_str(), std::strerror(errno));
        }
    }
}

}  // namespace reburn3::cli
