// SPDX-License-Identifier: Apache-2.0
#include "fakes/run_invariants.h"

#include <algorithm>
#include <fstream>

#include "app/startup.h"
#include "base/messages.h"
#include "fakes/fake_desktop.h"

namespace reburn3::testing {

namespace {

bool hasLine(const MessageList& log, std::string_view line) {
    return std::find(log.lines().begin(), log.lines().end(), line) != log.lines().end();
}

}  // namespace

std::string checkRunInvariants(const Form1& form, const FakeSerialDriver& driver,
                               const std::vector<GenRecord>& records, bool scriptValid) {
    const ProgramState& S = form.state();
    const WindowModel& W = form.window();
    const auto& written = driver.written();
    const std::vector<std::uint8_t> tx = transmitBytes(records);

    if (S.ProgramMode != 0) {
        return "the run did not end";
    }
    if (!W.button(ButtonId::SelectInputFile).enabled ||
        !W.button(ButtonId::ConfigComPort).enabled ||
        W.button(ButtonId::ProgramFlash).caption != text::kProgramFlash) {
        return "the commands were not given back";
    }
    if (W.log(LogId::Status).count() > WindowModel::kStatusLimit ||
        W.log(LogId::Debug).count() > WindowModel::kDebugLimit) {
        return "a log is over its limit";
    }
    if (!scriptValid && !written.empty()) {
        return "bytes were sent for a refused script";
    }
    std::vector<std::uint8_t> expected{0xE1, 0x94};
    expected.insert(expected.end(), tx.begin(), tx.end());
    if (written.size() > expected.size() ||
        !std::equal(written.begin(), written.end(), expected.begin())) {
        return "the device received bytes that are not the handshake and a prefix of the script";
    }
    const bool complete = hasLine(W.log(LogId::Status), text::kProcessingComplete);
    if (complete != (form.engine().outcome() == RunOutcome::Completed)) {
        return "the outcome and the log disagree";
    }
    if (complete) {
        if (written.size() != expected.size()) {
            return "complete without every T byte written";
        }
        if (W.log(LogId::Status).last() != text::kProcessingComplete) {
            return "something was posted after the completion line";
        }
        for (const auto& line : W.log(LogId::Debug).lines()) {
            if (line.rfind("Error", 0) == 0 || line.rfind("** ERROR **", 0) == 0 ||
                line.rfind(text::kUnexpectedInit, 0) == 0) {
                return "complete after an error: " + line;
            }
        }
    }
    return {};
}

RandomRunResult runRandomDownload(std::uint32_t seed, const std::string& scriptPath) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> pct(0, 99);
    const bool allowMalformed = pct(rng) < 10;
    const std::vector<GenRecord> records = randomScript(rng, allowMalformed);
    const bool scriptValid = std::none_of(records.begin(), records.end(),
                                          [](const GenRecord& r) { return r.type == 'X'; });
    std::ofstream(scriptPath, std::ios::binary | std::ios::trunc) << renderScript(records);

    FakeSerialDriver driver;
    FakeDesktop desktop;
    FixedClock clock;
    Form1 form(driver, desktop, clock);
    ScriptedDevice device(driver, records, randomFaults(rng, records));

    const bool putFault = pct(rng) < 5;
    const bool packetFault = pct(rng) < 3;
    const int abortAt = pct(rng) < 5 ? pct(rng) * 3 : -1;
    // The port: most runs go through one as hard as a real one (a bounded system buffer,
    // partial writes, refused pushes, a line of its own speed); a fast one keeps up with
    // every group the generator makes, a slow one may make the device's answers late; some
    // lines stop, some devices go away.
    const int portKind = pct(rng);
    bool slowPort = false;
    if (portKind < 70) {
        std::uniform_int_distribution<std::size_t> buffer(1, 256);
        std::uniform_int_distribution<std::size_t> perTick(1, 120);
        std::uniform_int_distribution<std::size_t> stall(0, 4);
        FakeSerialDriver::Output hard{buffer(rng), perTick(rng), stall(rng)};
        if (hard.stallEvery == 1) {
            hard.stallEvery = 0;  // every push refused would be a stopped line
        }
        driver.setOutput(hard);
        slowPort = hard.systemBuffer < 80 || hard.bytesPerTick < 80 || hard.stallEvery != 0;
    }
    const int stopLineAt = pct(rng) < 4 ? pct(rng) * 2 : -1;
    const int loseAt = pct(rng) < 4 ? pct(rng) * 2 : -1;
    if (putFault) {
        driver.failPutByteAfter(static_cast<std::size_t>(pct(rng) % 12), 31);
    }
    if (packetFault) {
        driver.failWith("ser_rs232_putpacket", 17);
    }

    MainStartUp(form, "");
    desktop.answers.push_back(scriptPath);
    form.SelectInputFile_Click();
    form.ComxBtn_Click(1);
    form.Initialize_Click();
    form.ProgramFlash_Click();

    RandomRunResult result;
    result.mustComplete = scriptValid && device.perfect() && !putFault && !packetFault &&
                          abortAt < 0 && !slowPort && stopLineAt < 0 && loseAt < 0;
    std::uint64_t tick = 0;
    bool lostInRun = false;
    while (form.state().ProgramMode != 0 && tick < 20000) {
        ++tick;
        device.setNow(tick);
        driver.advanceTo(tick);
        if (static_cast<int>(tick) == stopLineAt) {
            driver.stopLine(true);
        }
        if (static_cast<int>(tick) == loseAt) {
            driver.loseDevice();
            lostInRun = true;
        }
        if (static_cast<int>(tick) == abortAt) {
            form.ProgramFlash_Click();
        }
        if (form.window().timerEnabled()) {
            form.Timer2_Timer();
        }
    }
    result.completed = form.engine().outcome() == RunOutcome::Completed;
    result.broken = checkRunInvariants(form, driver, records, scriptValid);
    const RunOutcome outcome = form.engine().outcome();
    if (result.broken.empty() && lostInRun && outcome != RunOutcome::DeviceLost &&
        outcome != RunOutcome::Aborted) {
        result.broken = "a device lost during the run was not reported as lost";
    }
    if (result.broken.empty() && result.mustComplete && !result.completed) {
        result.broken = "a perfect device did not get a complete download";
    }
    return result;
}

}  // namespace reburn3::testing
