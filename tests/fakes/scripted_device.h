// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "fakes/fake_serial_driver.h"

namespace reburn3::testing {

// One record of a generated script.
struct GenRecord {
    char type = 'T';  // 'T', 'R', 'E', or 'X' for a malformed record
    std::uint8_t byte = 0;
    std::string raw;  // the four characters of an 'X' record
};

std::string renderScript(const std::vector<GenRecord>& records);
std::vector<std::uint8_t> transmitBytes(const std::vector<GenRecord>& records);

// How the device behind a FakeSerialDriver misbehaves, in ticks.
struct DeviceFaults {
    enum class Handshake { Good, Silent, Bad, NoiseThenGood, GoodThenStray };
    Handshake handshake = Handshake::Good;
    std::uint64_t handshakeDelay = 1;
    std::vector<std::uint64_t> replyDelay;  // per R record; missing entries: 1
    std::vector<int> replyKind;             // per R record: 0 right, 1 wrong, 2 silent
    bool echo = false;
};

// Plays the device's side of a generated script on a FakeSerialDriver: it answers
// the handshake, counts the script's T bytes as they arrive and answers each R record
// once every T byte before it has arrived, after its delay in ticks.
class ScriptedDevice {
public:
    ScriptedDevice(FakeSerialDriver& driver, std::vector<GenRecord> records, DeviceFaults faults);

    void setNow(std::uint64_t tick) { m_now = tick; }
    bool perfect() const;

private:
    void onByte(std::uint8_t byte);
    void answerReadyRecords(std::uint64_t at);

    FakeSerialDriver& m_driver;
    std::vector<GenRecord> m_records;
    DeviceFaults m_faults;
    std::uint64_t m_now = 0;
    std::size_t m_received = 0;
    std::size_t m_next = 0;  // next record the device has not dealt with
    std::size_t m_rIndex = 0;
};

// A random script, mostly well formed.
std::vector<GenRecord> randomScript(std::mt19937& rng, bool allowMalformed);
DeviceFaults randomFaults(std::mt19937& rng, const std::vector<GenRecord>& records);

}  // namespace reburn3::testing
