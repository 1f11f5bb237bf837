// SPDX-License-Identifier: Apache-2.0
// reburn3-sim: the simulated ORX-716 as a program of its own.
#include <cstdio>
#include <string>
#include <vector>

#include "sim/simulate_command.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    // What the shell completion asks: the options, from the table the parser reads.
    if (!args.empty() && args.front() == "__complete") {
        std::fputs(reburn3::completionLines(reburn3::sim::simulateOptions("reburn3-sim")).c_str(),
                   stdout);
        return 0;
    }
    return reburn3::sim::simulateCommand(args, "reburn3-sim");
}
