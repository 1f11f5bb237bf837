// SPDX-License-Identifier: Apache-2.0
// Micro-benchmarks of the core: the script check's throughput and the record
// reader's cost per record. They report figures; they never fail on time.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "app/form1.h"
#include "fakes/fake_desktop.h"
#include "fakes/fake_serial_driver.h"
#include "script/script_check.h"

using namespace reburn3;

namespace {

// Script lines of 64 T bytes, one R acknowledgement and a line mark.
std::string makeScript(std::size_t bytes) {
    std::string out;
    out.reserve(bytes + 512);
    unsigned value = 0;
    char rec[8];
    while (out.size() < bytes) {
        for (int i = 0; i < 64; ++i) {
            std::snprintf(rec, sizeof rec, "T%02X:", (value++ * 37U) & 0xFFU);
            out += rec;
        }
        std::snprintf(rec, sizeof rec, "R%02X:", value & 0xFFU);
        out += rec;
        out += "E\r\n:";
    }
    return out;
}

const std::string& script64M() {
    static const std::string s = makeScript(64U << 20);
    return s;
}

// A corrupt script of the same size: all zero bytes, a fault in every record.
const std::string& corrupt64M() {
    static const std::string s(64U << 20, '\0');
    return s;
}

void checkInPieces(benchmark::State& state, const std::string& s) {
    for (auto _ : state) {
        ScriptChecker checker;
        // The check reads the file in 64 KiB pieces.
        for (std::size_t i = 0; i < s.size(); i += 1 << 16) {
            checker.feed(s.data() + i, std::min<std::size_t>(1 << 16, s.size() - i));
        }
        benchmark::DoNotOptimize(checker.finish());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(s.size()));
}

void BM_ScriptCheck(benchmark::State& state) {
    checkInPieces(state, script64M());
}
BENCHMARK(BM_ScriptCheck)->Unit(benchmark::kMillisecond);

void BM_ScriptCheckCorrupt(benchmark::State& state) {
    checkInPieces(state, corrupt64M());
}
BENCHMARK(BM_ScriptCheckCorrupt)->Unit(benchmark::kMillisecond);

void BM_ReadNextRecord(benchmark::State& state) {
    const std::string s = makeScript(1U << 20);
    testing::FakeSerialDriver driver;
    testing::FakeDesktop desktop;
    testing::FixedClock clock;
    Form1 form(driver, desktop, clock);
    form.script().openMemory(s);
    form.reader().CountRecords();
    std::int64_t records = 0;
    for (auto _ : state) {
        if (form.reader().ReadNextRecord() == ReadOutcome::EndOfScript) {
            state.PauseTiming();
            form.script().openMemory(s);
            form.reader().CountRecords();
            form.window().clearLog(LogId::Status);
            state.ResumeTiming();
        }
        ++records;
    }
    state.SetItemsProcessed(records);
}
BENCHMARK(BM_ReadNextRecord);

}  // namespace

BENCHMARK_MAIN();
