// SPDX-License-Identifier: Apache-2.0
// The tick periods of --stats.

#include <chrono>

#include <gtest/gtest.h>

#include "run/run_stats.h"

namespace reburn3::run {
namespace {

TEST(TickPeriods, QuantilesComeFromTheBinsAndTheMaximumIsExact) {
    using namespace std::chrono;
    TickPeriods periods;
    TickPeriods::Clock::time_point t{};
    periods.arrived(t);  // the first arrival only starts the measure
    for (int i = 0; i < 98; ++i) {
        t += microseconds(5000);
        periods.arrived(t);
    }
    t += microseconds(9000);
    periods.arrived(t);
    t += milliseconds(80);  // beyond the last bin
    periods.arrived(t);
    EXPECT_EQ(periods.count(), 100U);
    EXPECT_DOUBLE_EQ(periods.quantileMs(0.5), 5.005);
    EXPECT_DOUBLE_EQ(periods.quantileMs(0.99), 9.005);
    EXPECT_DOUBLE_EQ(periods.quantileMs(1.0), 80.0);
    EXPECT_DOUBLE_EQ(periods.maxMs(), 80.0);
    EXPECT_NEAR(periods.meanMs(), (98 * 5.0 + 9.0 + 80.0) / 100, 1e-9);
    EXPECT_EQ(TickPeriods().quantileMs(0.5), 0.0);
}

}  // namespace
}  // namespace reburn3::run
