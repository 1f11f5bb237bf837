// SPDX-License-Identifier: Apache-2.0
// The engine against a device whose every reply byte and its tick come from the fuzzer,
// behind a port whose buffer, line speed, refused writes and loss come from the fuzzer
// too: whatever happens, the run ends (the harness aborts it, as an operator would, when
// its tick budget runs out), the device receives only the handshake and a prefix of the
// script, and "Processing complete." means the device received all of it.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/startup.h"
#include "fakes/fake_desktop.h"
#include "fakes/run_invariants.h"

using namespace reburn3;
using namespace reburn3::testing;

namespace {

constexpr std::uint64_t kTickBudget = 20000;
constexpr std::size_t kHeader = 4;

// Byte 1 picks the port: 0 to 63 a port that delivers at once, else a bounded buffer of
// 1 to 512 bytes; byte 2 the bytes its line sends a tick and how often a write is refused;
// byte 3 the tick at which the device goes away (0: never).
FakeSerialDriver::Output portFrom(std::uint8_t kind, std::uint8_t line) {
    FakeSerialDriver::Output output;
    if (kind < 64) {
        return output;
    }
    output.systemBuffer = static_cast<std::size_t>(kind - 63) * 2;
    output.bytesPerTick = static_cast<std::size_t>(line % 128) + 1;
    const std::size_t stall = line >> 7 ? 2 + (line % 3) : 0;
    output.stallEvery = stall;
    return output;
}

// A script file of this process's own, removed after every input.
class TemporaryScript {
public:
    explicit TemporaryScript(const std::string& text)
        : m_path((std::filesystem::temp_directory_path() /
                  ("engine_fuzz_" + std::to_string(getpid()) + ".pf3"))
                     .string()) {
        std::ofstream(m_path, std::ios::binary | std::ios::trunc) << text;
    }
    ~TemporaryScript() {
        std::error_code ignored;
        std::filesystem::remove(m_path, ignored);
    }
    TemporaryScript(const TemporaryScript&) = delete;
    TemporaryScript& operator=(const TemporaryScript&) = delete;
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kHeader + 2) {
        return 0;
    }
    // Byte 0 says how many of the pairs after the header make the script; the rest are the
    // device's replies as (ticks to wait, byte) pairs.
    const std::size_t scriptPairs = std::min<std::size_t>(data[0] % 32 + 1, (size - kHeader) / 2);
    std::vector<GenRecord> records;
    std::size_t i = kHeader;
    for (std::size_t n = 0; n < scriptPairs; ++n, i += 2) {
        GenRecord r;
        r.type = "TTRE"[data[i] % 4];
        r.byte = data[i + 1];
        records.push_back(r);
    }
    const TemporaryScript script(renderScript(records));

    FakeSerialDriver driver;
    driver.setOutput(portFrom(data[1], data[2]));
    const std::uint64_t loseAt = data[3] == 0 ? 0 : static_cast<std::uint64_t>(data[3]) * 3;
    FakeDesktop desktop;
    FixedClock clock;
    Form1 form(driver, desktop, clock);
    std::uint64_t at = 0;
    for (; i + 1 < size; i += 2) {
        at += data[i] % 64;
        driver.scheduleAt(at + 1, {data[i + 1]});
    }

    MainStartUp(form, "");
    desktop.answers.push_back(script.path());
    form.SelectInputFile_Click();
    form.Initialize_Click();
    form.ProgramFlash_Click();
    bool lost = false;
    for (std::uint64_t tick = 1; form.state().ProgramMode != 0 && tick < kTickBudget; ++tick) {
        driver.advanceTo(tick);
        if (tick == loseAt) {
            driver.loseDevice();
            lost = true;
        }
        form.Timer2_Timer();
    }
    if (form.state().ProgramMode != 0) {
        form.ProgramFlash_Click();  // a device that never goes quiet: the operator aborts
    }
    std::string broken = checkRunInvariants(form, driver, records, true);
    const RunOutcome outcome = form.engine().outcome();
    if (broken.empty() && lost && outcome != RunOutcome::DeviceLost &&
        outcome != RunOutcome::Aborted) {
        broken = "a lost device was not reported as lost";
    }
    if (!broken.empty()) {
        std::fprintf(stderr, "invariant broken: %s\n", broken.c_str());
        std::abort();
    }
    return 0;
}
