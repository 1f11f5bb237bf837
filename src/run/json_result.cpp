// SPDX-License-Identifier: Apache-2.0
#include "run/json_result.h"

#include "run/exit_codes.h"

#include <QJsonArray>

namespace reburn3::run {

namespace {

qint64 number(std::uint64_t n) {
    return static_cast<qint64>(n);
}

QString text(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace

QJsonObject resultJson(const RunResult& r, const Tags& tags) {
    QJsonObject o;
    o.insert("type", "result");
    o.insert("result", text(std::string(resultName(r))));
    o.insert("reason", text(std::string(reasonWord(r))));
    if (logFailed(r)) {
        // The download's own end, which the lost record would have told.
        o.insert("runReason", text(std::string(reasonName(r.reason))));
    }
    o.insert("exitCode", r.exitCode);
    o.insert("completed", r.outcome == RunOutcome::Completed);
    o.insert("deviceLost", r.deviceLost);
    o.insert("partlyProgrammed", r.partlyProgrammed);
    if (r.failedRecord > 0) {
        o.insert("failedRecord", number(r.failedRecord));
        o.insert("scriptLine", number(r.scriptLine));
    }
    if (!r.expected.empty()) {
        o.insert("expected", text(r.expected));
        o.insert("received", text(r.received));
    }
    o.insert("records", number(r.records));
    o.insert("recordsDone", number(r.recordsDone));
    o.insert("scriptLines", number(r.scriptLines));
    o.insert("bytesToSend", number(r.bytesToSend));
    o.insert("bytesToVerify", number(r.bytesToVerify));
    o.insert("bytesSent", number(r.bytesSent));
    o.insert("bytesReceived", number(r.bytesReceived));
    o.insert("bytesUnacknowledged", number(r.bytesUnacknowledged));
    o.insert("deliveryConfirmed", r.deliveryConfirmed);
    o.insert("ticks", number(r.ticks));
    o.insert("durationMs", static_cast<qint64>(r.durationMs));
    o.insert("startedAt", text(r.startedAt));
    o.insert("endedAt", text(r.endedAt));
    o.insert("version", text(r.version));
    o.insert("commit", text(r.commit));
    o.insert("port", text(r.port));
    o.insert("device", text(r.device));
    o.insert("script", text(r.script));
    o.insert("sha256", text(r.sha256));
    if (!r.detail.empty()) {
        o.insert("detail", text(r.detail));
    }
    o.insert("attempts", r.attempts);
    if (!r.attemptReasons.empty()) {
        QJsonArray reasons;
        for (const std::string& reason : r.attemptReasons) {
            reasons.append(text(reason));
        }
        o.insert("attemptReasons", reasons);
    }
    if (r.round > 0) {
        o.insert("round", r.round);
    }
    if (!tags.empty()) {
        QJsonObject t;
        for (const auto& [key, value] : tags) {
            t.insert(text(key), text(value));
        }
        o.insert("tags", t);
    }
    return o;
}

QJsonObject logJson(const RunResult& r, const Tags& tags, const std::string& host,
                    const std::string& station) {
    QJsonObject o = resultJson(r, tags);
    o.insert("host", text(host));
    o.insert("station", text(station.empty() ? host : station));
    if (!o.contains("tags")) {
        o.insert("tags", QJsonObject());
    }
    return o;
}

}  // namespace reburn3::run
