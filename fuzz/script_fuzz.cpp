// SPDX-License-Identifier: Apache-2.0
// Any byte string as a script: the check must agree with the reader that walks it,
// feeding the check in pieces must not change its verdict, and nothing may read past
// the end or crash.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/form1.h"
#include "fakes/fake_desktop.h"
#include "fakes/fake_serial_driver.h"
#include "script/script_check.h"

using namespace reburn3;

namespace {

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    ScriptChecker whole;
    whole.feed(bytes.data(), bytes.size());
    const ScriptSummary summary = whole.finish();

    ScriptChecker pieces;
    const std::size_t step = size > 0 ? 1 + data[0] % 7 : 1;
    for (std::size_t i = 0; i < size; i += step) {
        pieces.feed(bytes.data() + i, std::min(step, size - i));
    }
    const ScriptSummary split = pieces.finish();
    require(split.records == summary.records && split.faultCount == summary.faultCount &&
            split.groups == summary.groups && split.txBytes == summary.txBytes);

    testing::FakeSerialDriver driver;
    testing::FakeDesktop desktop;
    testing::FixedClock clock;
    Form1 form(driver, desktop, clock);
    form.script().openMemory(bytes);
    const bool accepted = form.reader().CountRecords();
    require(accepted == summary.ok());
    if (!accepted) {
        return 0;
    }
    std::uint64_t transmits = 0;
    std::uint64_t receives = 0;
    for (;;) {
        const ReadOutcome outcome = form.reader().ReadNextRecord();
        require(outcome != ReadOutcome::Malformed);
        if (outcome == ReadOutcome::EndOfScript) {
            break;
        }
        (outcome == ReadOutcome::Transmit ? transmits : receives) += 1;
    }
    require(transmits == summary.txBytes && receives == summary.rxBytes);
    require(form.state().RecordsDone == form.state().RecordsTotal);
    return 0;
}
