// SPDX-License-Identifier: Apache-2.0
#include "cli/run_report.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QJsonDocument>

#include <stdio_ext.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

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

// Cuts standard output, where it is a file of its own, back to the end of its last whole
// line: a line that a full disk cut short is taken out again, so that a reader finds
// JSON Lines only. Output stdio still holds for it is dropped.
void cutToLastWholeLine() {
    __fpurge(stdout);
    std::clearerr(stdout);
    struct stat st {};
    const off_t end = ::lseek(STDOUT_FILENO, 0, SEEK_CUR);
    if (end <= 0 || ::fstat(STDOUT_FILENO, &st) != 0 || !S_ISREG(st.st_mode)) {
        return;
    }
    // Standard output is usually open for writing only: it is read through a descriptor
    // of its own.
    const int reader = ::open("/proc/self/fd/1", O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (reader < 0) {
        return;
    }
    const std::shared_ptr<void> closeReader(nullptr, [reader](void*) { ::close(reader); });
    off_t at = end;
    char block[4096];
    while (at > 0) {
        const off_t from =
            at > static_cast<off_t>(sizeof block) ? at - static_cast<off_t>(sizeof block) : 0;
        const ssize_t got = ::pread(reader, block, static_cast<std::size_t>(at - from), from);
        if (got <= 0) {
            return;
        }
        for (ssize_t i = got; i > 0; --i) {
            if (block[i - 1] == '\n') {
                at = from + i;
                if (at != end && ::ftruncate(STDOUT_FILENO, at) == 0) {
                    ::lseek(STDOUT_FILENO, at, SEEK_SET);
                }
                return;
            }
        }
        at = from;
    }
    if (::ftruncate(STDOUT_FILENO, 0) == 0) {
        ::lseek(STDOUT_FILENO, 0, SEEK_SET);
    }
}

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
        const ssize_t n = ::write(STDOUT_FILENO, data + written, left);
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

// Adds `failure` to the words of what was lost of the download's records.
void addFailure(std::string& failures, const std::string& failure) {
    failures += (failures.empty() ? "" : "; ") + failure;
}

}  // namespace

std::size_t worstLogLine(const RunResult& base, const FlashOptions& options) {
    constexpr std::size_t kRunsAdd = 4096;
    return static_cast<std::size_t>(
               QJsonDocument(logJson(base, options.tags, hostName(), options.stationName))
                   .toJson(QJsonDocument::Compact)
                   .size()) +
           kRunsAdd;
}

RunResult reportEnd(const RunResult& told, const FlashOptions& options, AppendLog* log,
                    const QJsonObject& extra, const std::string& prefix, QJsonObject* jsonTold,
                    const TraceFile* trace) {
    RunResult result = told;
    std::string logFailure;
    // A trace that lost bytes (a full disk) is a lost record of the download as a log
    // line is, and every record written after this says so.
    if (trace != nullptr && trace->isOpen() && !trace->problem().empty()) {
        result.exitCode = kExitLogFailed;
        addFailure(logFailure, std::string(texts::kTraceFailed) + displayName(options.tracePath) +
                                   ": " + trace->problem());
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
            addFailure(logFailure, std::string(texts::kLogFailed) + displayName(options.logPath) +
                                       ": " + error);
        }
    }
    // JSON Lines that did not go out whole before the result (a full disk): the output
    // is incomplete, which the result and the verdict tell.
    if (options.json && !outputWhole()) {
        result.exitCode = kExitLogFailed;
        addFailure(logFailure, std::string(texts::kJsonLinesLost));
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
        std::fprintf(stderr, "%s%s\n", prefix.c_str(), verdictLine(result, logFailure).c_str());
        std::fflush(stderr);
    }
    return result;
}

}  // namespace reburn3::cli
