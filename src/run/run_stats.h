// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QJsonObject>

#include <array>
#include <chrono>
#include <cstdint>
#include <string>

namespace reburn3::run {

// Tick periods in a fixed histogram of 10 µs bins up to 50 ms (longer ones in the last
// bin, the longest kept exactly), so that a run of any length is measured in constant
// memory.
class TickPeriods {
public:
    using Clock = std::chrono::steady_clock;

    void arrived(Clock::time_point at);

    std::uint64_t count() const { return m_count; }
    // The period below which the fraction `q` (0 to 1) of all periods lie, in ms, to the
    // bin's middle; 0 when none was measured.
    double quantileMs(double q) const;
    double maxMs() const { return static_cast<double>(m_maxNs) / 1e6; }
    double meanMs() const;

private:
    static constexpr std::int64_t kBinNs = 10'000;
    static constexpr std::size_t kBins = 5'000;

    std::array<std::uint32_t, kBins> m_bins{};
    std::uint64_t m_count = 0;
    std::int64_t m_maxNs = 0;
    std::int64_t m_sumNs = 0;
    bool m_started = false;
    Clock::time_point m_last{};
};

// What `flash --stats` reports about one run: the tick periods, the run's wall time
// against the least the protocol allows, the CPU time the process used during the run,
// and its peak resident memory.
struct RunFigures {
    std::uint64_t tickBound = 0;  // ticks the script needs against an instant device
    double boundS = 0;            // the least time the run is measured against
    std::uint64_t ticks = 0;      // ticks delivered
    double wallS = 0;             // from the press of "Program FLASH" to the end
    double cpuUserS = 0;
    double cpuSysS = 0;
    long maxRssKb = 0;

    double ratio() const { return boundS > 0 ? wallS / boundS : 0; }
    double cpuShare() const { return wallS > 0 ? (cpuUserS + cpuSysS) / wallS : 0; }
};

// Takes the arrival time of every tick and the process's CPU time at the start and the
// end of the run.
class RunStats {
public:
    // A tick has arrived; counted only while the run is on.
    void tickArrived() {
        if (m_running) {
            m_periods.arrived(TickPeriods::Clock::now());
        }
    }
    void runStarted();
    // `boundS`: the least time of the run (the tick bound's, or a line's own limit).
    void runEnded(std::uint64_t tickBound, double boundS, std::uint64_t ticks);

    const TickPeriods& periods() const { return m_periods; }
    const RunFigures& figures() const { return m_figures; }

    std::string summaryLine() const;
    QJsonObject toJson() const;

private:
    bool m_running = false;
    TickPeriods m_periods;
    RunFigures m_figures;
    TickPeriods::Clock::time_point m_start{};
    double m_cpuUserAtStart = 0;
    double m_cpuSysAtStart = 0;
};

}  // namespace reburn3::run
