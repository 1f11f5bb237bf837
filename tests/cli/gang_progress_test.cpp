// SPDX-License-Identifier: Apache-2.0
// A gang's progress rows and its summary table.

#include <string>

#include <gtest/gtest.h>

#include "cli/gang_progress.h"
#include "cli/run_report.h"
#include "run/port_gang.h"

namespace reburn3::cli {
namespace {

TEST(GangOutput, RowsFitTheTerminalAndTheTableNamesEveryRun) {
    for (const int columns : {20, 40, 80, 200}) {
        const std::string row =
            GangProgress::formatRow("[/dev/ttyUSB12] ", 120, 400, 3000, columns);
        EXPECT_LT(row.size(), static_cast<std::size_t>(columns)) << row;
        EXPECT_EQ(row.rfind("[/dev/ttyUSB12] ", 0), 0U) << row;
    }
    // Too narrow for any bar: the label alone, cut, never wrapping.
    EXPECT_EQ(GangProgress::formatRow("[/dev/ttyUSB12] ", 1, 4, 0, 10), "[/dev/tty");

    RunResult done;
    done.port = "COM3";
    done.outcome = RunOutcome::Completed;
    done.exitCode = 0;
    done.records = done.recordsDone = 400;
    done.durationMs = 2500;
    RunResult lost = done;
    lost.port = "/dev/ttyUSB0";
    lost.outcome = RunOutcome::DeviceLost;
    lost.reason = RunReason::DeviceLost;
    lost.deviceLost = true;
    lost.recordsDone = 120;
    lost.exitCode = 4;
    const std::string table = summaryTable({done, lost});
    EXPECT_NE(table.find("COM3          completed"), std::string::npos) << table;
    EXPECT_NE(table.find("device-lost"), std::string::npos) << table;
    EXPECT_NE(table.find("120/400"), std::string::npos) << table;
    EXPECT_NE(table.find("2.5 s"), std::string::npos) << table;
    EXPECT_EQ(table.find("round"), std::string::npos) << table;  // no station, no rounds
    lost.round = 7;
    EXPECT_NE(summaryTable({lost}).find("    7  device-lost"), std::string::npos);
}

}  // namespace
}  // namespace reburn3::cli
