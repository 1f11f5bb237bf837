// SPDX-License-Identifier: Apache-2.0
// The bundled demo script played again and again against a fault-free simulated device, on
// ticks and with --reactive: every run must complete, none may be taken for a lost device,
// and the device must hold every download byte for byte.
//
// 20 runs on ticks and 100 with --reactive by default; REBURN3_DEMO_RUNS=300 runs 300 of
// each (the long version: about 17 minutes on ticks, under a minute reactive).

#include <QFile>

#include <cstdlib>

#include "reliability/harness.h"

namespace reburn3::reliability {
namespace {

int runsFor(bool reactive) {
    const char* value = std::getenv("REBURN3_DEMO_RUNS");
    const int runs = value != nullptr ? std::atoi(value) : 0;
    return runs > 0 ? runs : (reactive ? 100 : 20);
}

class DemoSeries : public ReliabilityTest, public ::testing::WithParamInterface<bool> {};

TEST_P(DemoSeries, EveryRunCompletes) {
    const bool reactive = GetParam();
    const int runs = runsFor(reactive);
    QFile demo(REBURN3_DEMO_SCRIPT);
    ASSERT_TRUE(demo.open(QIODevice::ReadOnly));
    const QByteArray bytes = demo.readAll();
    const QString script = writeScript("demo.pf3", bytes);
    // A run takes about 3.3 s on ticks; the device's lifetime is only a safety net.
    const int limitSeconds = 60 + runs * (reactive ? 2 : 5);
    Device dev(script, {"--stay"}, path("received.bin"), limitSeconds);
    ASSERT_TRUE(dev.ok());

    QStringList args{"flash",  "--progress", "none", "--repeat", QString::number(runs),
                     "--port", dev.port(),   script};
    if (reactive) {
        args.insert(1, "--reactive");
    }
    QProcess p;
    startReburn3(p, args);
    ASSERT_TRUE(p.waitForFinished(limitSeconds * 1000)) << "the series did not end";
    const Outcome o = collect(p);
    EXPECT_EQ(o.exitCode, 0) << o.err.toStdString();
    EXPECT_EQ(o.outLines().count("Processing complete.  Exit this application."), runs);
    EXPECT_FALSE(o.err.contains("went away")) << o.err.toStdString();
    std::printf("demo series (%s): %d runs, exit %d\n", reactive ? "reactive" : "ticks", runs,
                o.exitCode);

    QByteArray expected;
    for (int i = 0; i < runs; ++i) {
        expected += downloadOf(bytes);
    }
    const QByteArray received = dev.received();
    EXPECT_EQ(received.size(), expected.size());
    EXPECT_TRUE(received == expected) << "the device did not get every download";
}

INSTANTIATE_TEST_SUITE_P(OnTicksAndReactive, DemoSeries, ::testing::Values(false, true),
                         [](const auto& mode) { return mode.param ? "Reactive" : "Ticks"; });

}  // namespace
}  // namespace reburn3::reliability
