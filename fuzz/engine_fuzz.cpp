// The engine against a device whose every reply byte and its tick come from the
// fuzzer: whatever the device does, the run ends, the device receives only the
// handshake and a prefix of the script, and "Processing complete." means all of it.
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

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    // The first byte says how many of the following pairs make the script; the rest
    // are the device's replies as (ticks to wait, byte) pairs.
    const std::size_t scriptPairs = std::min<std::size_t>(data[0] % 32 + 1, (size - 1) / 2);
    std::vector<GenRecord> records;
    std::size_t i = 1;
    for (std::size_t n = 0; n < scriptPairs; ++n, i += 2) {
        GenRecord r;
        r.type = "TTRE"[data[i] % 4];
        r.byte = data[i + 1];
        records.push_back(r);
    }
    static const std::string path = (std::filesystem::temp_directory_path() /
                                     ("engine_fuzz_" + std::to_string(getpid()) + ".pf3"))
                                        .string();
    std::ofstream(path, std::ios::binary | std::ios::trunc) << renderScript(records);

    FakeSerialDriver driver;
    FakeDesktop desktop;
    FixedClock clock;
    Form1 form(driver, desktop, clock);
    std::uint64_t at = 0;
    for (; i + 1 < size; i += 2) {
        at += data[i] % 64;
        driver.scheduleAt(at + 1, {data[i + 1]});
    }

    MainStartUp(form, "");
    desktop.answers.push_back(path);
    form.SelectInputFile_Click();
    form.Initialize_Click();
    form.ProgramFlash_Click();
    for (std::uint64_t tick = 1; form.state().ProgramMode != 0 && tick < 20000; ++tick) {
        driver.advanceTo(tick);
        form.Timer2_Timer();
    }
    const std::string broken = checkRunInvariants(form, driver, records, true);
    if (!broken.empty()) {
        std::fprintf(stderr, "invariant broken: %s\n", broken.c_str());
        std::abort();
    }
    return 0;
}
