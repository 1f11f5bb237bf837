// SPDX-License-Identifier: Apache-2.0
#include <string>
#include <vector>

#include "sim/simulate_command.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return reburn3::sim::simulateCommand(args);
}
