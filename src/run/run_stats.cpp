// SPDX-License-Identifier: Apache-2.0
#include "run/run_stats.h"

#include <cstdio>

#include "run/process_usage.h"

namespace reburn3::run {

void TickPeriods::arrived(Clock::time_point at) {
    if (m_started) {
        const std::int64_t ns =
            std::chrono::duration_cast<std::chrono::nanoseconds>(at - m_last).count();
        const auto bin = static_cast<std::size_t>(ns / kBinNs);
        ++m_bins[bin < kBins ? bin : kBins - 1];
        ++m_count;
        m_sumNs += ns;
        if (ns > m_maxNs) {
            m_maxNs = ns;
        }
    }
    m_started = true;
    m_last = at;
}

double TickPeriods::quantileMs(double q) const {
    if (m_count == 0) {
        return 0;
    }
    // The rank of the wanted period, counted from 1.
    auto rank = static_cast<std::uint64_t>(q * static_cast<double>(m_count) + 0.5);
    rank = rank < 1 ? 1 : (rank > m_count ? m_count : rank);
    std::uint64_t seen = 0;
    for (std::size_t i = 0; i < kBins; ++i) {
        seen += m_bins[i];
        if (seen >= rank) {
            if (i == kBins - 1) {
                return maxMs();
            }
            return (static_cast<double>(i) + 0.5) * static_cast<double>(kBinNs) / 1e6;
        }
    }
    return maxMs();
}

double TickPeriods::meanMs() const {
    return m_count == 0 ? 0 : static_cast<double>(m_sumNs) / static_cast<double>(m_count) / 1e6;
}

void RunStats::runStarted() {
    const CpuTimes cpu = cpuNow();
    m_cpuUserAtStart = cpu.user;
    m_cpuSysAtStart = cpu.sys;
    m_start = TickPeriods::Clock::now();
    m_running = true;
}

void RunStats::runEnded(std::uint64_t tickBound, double boundS, std::uint64_t ticks) {
    if (!m_running) {
        return;
    }
    m_running = false;
    const CpuTimes cpu = cpuNow();
    m_figures.tickBound = tickBound;
    m_figures.boundS = boundS;
    m_figures.ticks = ticks;
    m_figures.wallS = std::chrono::duration<double>(TickPeriods::Clock::now() - m_start).count();
    m_figures.cpuUserS = cpu.user - m_cpuUserAtStart;
    m_figures.cpuSysS = cpu.sys - m_cpuSysAtStart;
    m_figures.maxRssKb = cpu.maxRssKb;
}

std::string RunStats::summaryLine() const {
    const RunFigures& f = m_figures;
    char line[512];
    std::snprintf(line, sizeof line,
                  "reburn3: stats: %.3f s for a bound of %.3f s (tick bound %llu): ratio %.4f; "
                  "%llu ticks; tick period median %.3f ms, p99 %.3f ms, max %.3f ms; "
                  "CPU %.3f s user + %.3f s system = %.1f %% of a core; peak RSS %ld kB",
                  f.wallS, f.boundS, static_cast<unsigned long long>(f.tickBound), f.ratio(),
                  static_cast<unsigned long long>(f.ticks), m_periods.quantileMs(0.5),
                  m_periods.quantileMs(0.99), m_periods.maxMs(), f.cpuUserS, f.cpuSysS,
                  100.0 * f.cpuShare(), f.maxRssKb);
    return line;
}

QJsonObject RunStats::toJson() const {
    const RunFigures& f = m_figures;
    QJsonObject o;
    o.insert("wallS", f.wallS);
    o.insert("tickBound", static_cast<qint64>(f.tickBound));
    o.insert("boundS", f.boundS);
    o.insert("ratio", f.ratio());
    o.insert("ticks", static_cast<qint64>(f.ticks));
    o.insert("periodsMeasured", static_cast<qint64>(m_periods.count()));
    o.insert("periodMedianMs", m_periods.quantileMs(0.5));
    o.insert("periodP99Ms", m_periods.quantileMs(0.99));
    o.insert("periodMaxMs", m_periods.maxMs());
    o.insert("periodMeanMs", m_periods.meanMs());
    o.insert("cpuUserS", f.cpuUserS);
    o.insert("cpuSysS", f.cpuSysS);
    o.insert("cpuShare", f.cpuShare());
    o.insert("maxRssKb", static_cast<qint64>(f.maxRssKb));
    return o;
}

}  // namespace reburn3::run
