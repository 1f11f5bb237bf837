// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "app/form1.h"
#include "fakes/fake_serial_driver.h"
#include "fakes/scripted_device.h"

namespace reburn3::testing {

// What must hold after every run, whatever the script and the device did. Returns
// an empty text when all holds, else what broke.
std::string checkRunInvariants(const Form1& form, const FakeSerialDriver& driver,
                               const std::vector<GenRecord>& records, bool scriptValid);

// One random run from start-up to the end of the run, on fakes: a random script,
// a random device and random driver faults and aborts. Returns what broke, or "".
struct RandomRunResult {
    std::string broken;
    bool completed = false;
    bool mustComplete = false;
};
RandomRunResult runRandomDownload(std::uint32_t seed, const std::string& scriptPath);

}  // namespace reburn3::testing
