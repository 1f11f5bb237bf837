// SPDX-License-Identifier: Apache-2.0
#include "serve/metrics.h"

#include <QDateTime>
#include <QJsonArray>

#include <algorithm>
#include <cstdio>

namespace reburn3::serve {

namespace {

// A label value as the text format takes it: backslash, double quote and newline escaped.
QByteArray label(const QString& value) {
    QByteArray out;
    for (const char c : value.toUtf8()) {
        if (c == '\\' || c == '"') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

QByteArray number(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.9g", v);
    return buf;
}

template <std::size_t N>
void histogram(QByteArray& out, const QByteArray& station, const char* name, const char* help,
               const Histogram<N>& h) {
    out += QByteArray("# HELP ") + name + " " + help + "\n# TYPE " + name + " histogram\n";
    for (std::size_t i = 0; i < N; ++i) {
        out += QByteArray(name) + "_bucket{" + station + ",le=\"" + number(h.bounds[i]) + "\"} " +
               QByteArray::number(static_cast<qulonglong>(h.counts[i])) + "\n";
    }
    out += QByteArray(name) + "_bucket{" + station + ",le=\"+Inf\"} " +
           QByteArray::number(static_cast<qulonglong>(h.count)) + "\n";
    out += QByteArray(name) + "_sum{" + station + "} " + number(h.sum) + "\n";
    out += QByteArray(name) + "_count{" + station + "} " +
           QByteArray::number(static_cast<qulonglong>(h.count)) + "\n";
}

void single(QByteArray& out, const QByteArray& station, const char* name, const char* type,
            const char* help, const QByteArray& value) {
    out += QByteArray("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n" +
           name + "{" + station + "} " + value + "\n";
}

void single(QByteArray& out, const QByteArray& station, const char* name, const char* type,
            const char* help, double v) {
    single(out, station, name, type, help, number(v));
}

}  // namespace

Metrics::Metrics(QString station, QString version, QString commit)
    : m_station("station=\"" + label(station) + "\""),
      m_version(std::move(version)),
      m_commit(std::move(commit)) {}

void Metrics::roundStarted() {
    std::lock_guard lock(m_mutex);
    ++m_rounds;
    m_haveTick = false;
}

void Metrics::board(const QString& port, const QString& slot, const QString& result,
                    const QString& reason, double seconds) {
    std::lock_guard lock(m_mutex);
    ++m_boards[{port, slot, result, reason}];
    m_seconds.observe(seconds);
    m_lastBoard = static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
}

void Metrics::setLastBoard(double unixSeconds) {
    std::lock_guard lock(m_mutex);
    m_lastBoard = std::max(m_lastBoard, unixSeconds);
}

void Metrics::recordWriteFailed() {
    std::lock_guard lock(m_mutex);
    ++m_writeFailures;
}

void Metrics::setRecords(std::size_t pending, std::uint64_t lost, bool databaseUp, bool journalOk) {
    std::lock_guard lock(m_mutex);
    m_pending = pending;
    m_lost = lost;
    m_databaseUp = databaseUp;
    m_journalOk = journalOk;
}

void Metrics::tick(int periodMs) {
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(m_mutex);
    if (m_haveTick) {
        const double period = std::chrono::duration<double>(now - m_lastTick).count();
        const double late = period - periodMs / 1000.0;
        m_lateness.observe(late > 0 ? late : 0.0);
    }
    m_lastTick = now;
    m_haveTick = true;
}

QByteArray Metrics::text(const QJsonObject& state, std::size_t feedClients, int connections) const {
    const bool running = state.value("round").toObject().value("running").toBool();
    const bool healthy = state.value("ok").toBool(true);
    std::lock_guard lock(m_mutex);
    const QByteArray& st = m_station;
    QByteArray out;
    out +=
        "# HELP reburn3_build_info The build of reburn3 this station runs.\n"
        "# TYPE reburn3_build_info gauge\n"
        "reburn3_build_info{" +
        st + ",version=\"" + label(m_version) + "\",commit=\"" + label(m_commit) + "\"} 1\n";
    out +=
        "# HELP reburn3_boards_total Boards ended, by port, slot, result and reason.\n"
        "# TYPE reburn3_boards_total counter\n";
    for (const auto& [key, count] : m_boards) {
        const auto& [port, slot, result, reason] = key;
        out += "reburn3_boards_total{" + st + ",port=\"" + label(port) + "\",slot=\"" +
               label(slot) + "\",result=\"" + label(result) + "\",reason=\"" + label(reason) +
               "\"} " + QByteArray::number(static_cast<qulonglong>(count)) + "\n";
    }
    out +=
        "# HELP reburn3_port_state The state each port is in now (idle, waiting, running, "
        "completed, failed, aborted).\n"
        "# TYPE reburn3_port_state gauge\n";
    for (const QJsonValue& v : state.value("ports").toArray()) {
        const QJsonObject p = v.toObject();
        out += "reburn3_port_state{" + st + ",port=\"" + label(p.value("port").toString()) +
               "\",slot=\"" + label(p.value("slot").toString()) + "\",state=\"" +
               label(p.value("state").toString()) + "\"} 1\n";
    }
    if (m_lastBoard > 0) {
        // To the millisecond: the short form of the other series would round it to 10 s.
        single(out, st, "reburn3_last_board_timestamp_seconds", "gauge",
               "When the station's last board ended, in Unix seconds.",
               QByteArray::number(m_lastBoard, 'f', 3));
    }
    histogram(out, st, "reburn3_download_seconds",
              "Time from the start of a board's run to its end.", m_seconds);
    histogram(out, st, "reburn3_tick_lateness_seconds",
              "How much later than its 5 ms period each tick of the gang came.", m_lateness);
    single(out, st, "reburn3_rounds_total", "counter", "Rounds started.",
           static_cast<double>(m_rounds));
    single(out, st, "reburn3_record_write_failures_total", "counter",
           "Board records the journal did not take.", static_cast<double>(m_writeFailures));
    single(out, st, "reburn3_records_pending", "gauge",
           "Board records in the journal that the database has not committed yet.",
           static_cast<double>(m_pending));
    single(out, st, "reburn3_records_lost_total", "counter",
           "Board records in neither the journal nor the database.", static_cast<double>(m_lost));
    single(out, st, "reburn3_database_up", "gauge",
           "1 while the records database answers and takes rows.", m_databaseUp ? 1 : 0);
    single(out, st, "reburn3_journal_ok", "gauge", "1 while the journal takes every line.",
           m_journalOk ? 1 : 0);
    single(out, st, "reburn3_round_running", "gauge", "1 while a round runs.", running ? 1 : 0);
    single(out, st, "reburn3_healthy", "gauge",
           "1 while every record has been journaled (rounds may start).", healthy ? 1 : 0);
    single(out, st, "reburn3_feed_clients", "gauge", "Pages following the live feed.",
           static_cast<double>(feedClients));
    single(out, st, "reburn3_http_connections", "gauge", "Open HTTP connections.", connections);
    return out;
}

}  // namespace reburn3::serve
