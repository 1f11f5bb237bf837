// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <tuple>

namespace reburn3::serve {

// A histogram in the Prometheus sense: cumulative buckets, a sum and a count.
template <std::size_t N>
struct Histogram {
    std::array<double, N> bounds;
    std::array<std::uint64_t, N> counts{};
    double sum = 0.0;
    std::uint64_t count = 0;

    void observe(double value) {
        for (std::size_t i = 0; i < N; ++i) {
            counts[i] += value <= bounds[i] ? 1U : 0U;
        }
        sum += value;
        ++count;
    }
};

// GET /metrics, in the Prometheus text format 0.0.4: boards by port, result and reason;
// download seconds and the lateness of the gang's ticks as histograms; rounds, records
// that could not be written, the records waiting for the database, the feed's clients and
// whether the station is healthy.
//
// The station's thread counts; text() may be called from any other thread. One mutex is
// held only while a counter changes or while the text is made (no I/O under it).
class Metrics {
public:
    // The station's name, a label of every series, and the build reburn3_build_info tells.
    explicit Metrics(QString station = QString(), QString version = QString(),
                     QString commit = QString());
    void roundStarted();
    void board(const QString& port, const QString& slot, const QString& result,
               const QString& reason, double seconds);
    void recordWriteFailed();
    // The last board's end as the records had it at start (Unix seconds).
    void setLastBoard(double unixSeconds);
    // One expiry of the gang's tick clock: how much later than its period it came.
    void tick(int periodMs);
    // The records as they are now (see RecordsHealth).
    void setRecords(std::size_t pending, std::uint64_t lost, bool databaseUp, bool journalOk);

    // With the state as last published (round, health and each port's state).
    QByteArray text(const QJsonObject& state, std::size_t feedClients, int connections) const;

private:
    mutable std::mutex m_mutex;
    QByteArray m_station;  // `station="NAME"`, escaped
    QString m_version;
    QString m_commit;
    std::map<std::tuple<QString, QString, QString, QString>, std::uint64_t> m_boards;
    double m_lastBoard = 0;  // Unix seconds of the last board's end; 0 before the first
    Histogram<10> m_seconds{{1, 2, 5, 10, 20, 30, 60, 120, 300, 600}};
    Histogram<8> m_lateness{{0.0002, 0.0005, 0.001, 0.002, 0.005, 0.01, 0.05, 0.25}};
    std::chrono::steady_clock::time_point m_lastTick{};
    bool m_haveTick = false;
    std::uint64_t m_rounds = 0;
    std::uint64_t m_writeFailures = 0;
    std::size_t m_pending = 0;
    std::uint64_t m_lost = 0;
    bool m_databaseUp = false;
    bool m_journalOk = true;
};

}  // namespace reburn3::serve
