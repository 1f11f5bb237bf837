// SPDX-License-Identifier: Apache-2.0
#include "fakes/scripted_device.h"

#include <algorithm>
#include <cstdio>

namespace reburn3::testing {

std::string renderScript(const std::vector<GenRecord>& records) {
    std::string out;
    for (const auto& r : records) {
        char buf[8];
        switch (r.type) {
            case 'T':
            case 'R':
                std::snprintf(buf, sizeof buf, "%c%02X:", r.type, r.byte);
                out += buf;
                break;
            case 'E':
                out += "E\r\n:";
                break;
            default:
                out += r.raw;
                break;
        }
    }
    return out;
}

std::vector<std::uint8_t> transmitBytes(const std::vector<GenRecord>& records) {
    std::vector<std::uint8_t> out;
    for (const auto& r : records) {
        if (r.type == 'T') {
            out.push_back(r.byte);
        }
    }
    return out;
}

ScriptedDevice::ScriptedDevice(FakeSerialDriver& driver, std::vector<GenRecord> records,
                               DeviceFaults faults)
    : m_driver(driver), m_records(std::move(records)), m_faults(std::move(faults)) {
    m_driver.onByteWritten = [this](std::uint8_t b) { onByte(b); };
}

bool ScriptedDevice::perfect() const {
    if (m_faults.handshake != DeviceFaults::Handshake::Good &&
        m_faults.handshake != DeviceFaults::Handshake::NoiseThenGood) {
        return false;
    }
    if (m_faults.echo || m_faults.handshakeDelay > 50) {
        return false;
    }
    for (std::size_t i = 0; i < m_faults.replyKind.size(); ++i) {
        if (m_faults.replyKind[i] != 0 || m_faults.replyDelay.at(i) > 50) {
            return false;
        }
    }
    return true;
}

void ScriptedDevice::onByte(std::uint8_t byte) {
    ++m_received;
    if (m_faults.echo) {
        m_driver.scheduleAt(m_now + 1, {byte});
        return;
    }
    if (m_received == 2) {
        const std::uint64_t at = m_now + m_faults.handshakeDelay;
        switch (m_faults.handshake) {
            case DeviceFaults::Handshake::Good:
                m_driver.scheduleAt(at, {0x91, 0x26});
                break;
            case DeviceFaults::Handshake::Silent:
                return;
            case DeviceFaults::Handshake::Bad:
                m_driver.scheduleAt(at, {0x91, 0x27});
                break;
            case DeviceFaults::Handshake::NoiseThenGood:
                m_driver.scheduleAt(at, {0x00, 0x55, 0xAA, 0x91, 0x26});
                break;
            case DeviceFaults::Handshake::GoodThenStray:
                m_driver.scheduleAt(at, {0x91, 0x26, 0x00});
                break;
        }
        // R records at the very start are answered once the host has judged the reply:
        // 54 silent ticks after the tick that drains it.
        answerReadyRecords(std::max(at, m_now + 1) + 55);
        return;
    }
    if (m_received > 2) {
        // One T byte of the script has arrived: skip past it.
        while (m_next < m_records.size() && m_records[m_next].type != 'T') {
            ++m_next;
        }
        ++m_next;
        answerReadyRecords(m_now);
    }
}

void ScriptedDevice::answerReadyRecords(std::uint64_t at) {
    while (m_next < m_records.size() && m_records[m_next].type != 'T') {
        const GenRecord& r = m_records[m_next];
        if (r.type == 'R') {
            const std::size_t i = m_rIndex++;
            const int kind = i < m_faults.replyKind.size() ? m_faults.replyKind[i] : 0;
            const std::uint64_t delay = i < m_faults.replyDelay.size() ? m_faults.replyDelay[i] : 1;
            if (kind == 2) {
                m_next = m_records.size();  // silent from here on
                return;
            }
            const auto value = static_cast<std::uint8_t>(kind == 1 ? r.byte ^ 0x5A : r.byte);
            m_driver.scheduleAt(at + delay, {value});
            at += delay;
        }
        ++m_next;
    }
}

std::vector<GenRecord> randomScript(std::mt19937& rng, bool allowMalformed) {
    std::uniform_int_distribution<int> count(1, 40);
    std::uniform_int_distribution<int> kind(0, 99);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<GenRecord> records;
    const int n = count(rng);
    for (int i = 0; i < n; ++i) {
        const int k = kind(rng);
        GenRecord r;
        r.byte = static_cast<std::uint8_t>(byte(rng));
        r.type = k < 50 ? 'T' : (k < 75 ? 'R' : 'E');
        if (allowMalformed && k == 99) {
            r.type = 'X';
            for (int c = 0; c < 4; ++c) {
                r.raw.push_back(static_cast<char>(byte(rng)));
            }
            if (r.raw[3] == ':' && (r.raw[0] == 'T' || r.raw[0] == 'R' || r.raw[0] == 'E')) {
                r.raw[3] = ';';
            }
        }
        records.push_back(std::move(r));
    }
    return records;
}

DeviceFaults randomFaults(std::mt19937& rng, const std::vector<GenRecord>& records) {
    std::uniform_int_distribution<int> pct(0, 99);
    std::uniform_int_distribution<int> delay(0, 60);
    DeviceFaults f;
    const int h = pct(rng);
    f.handshake = h < 70   ? DeviceFaults::Handshake::Good
                  : h < 78 ? DeviceFaults::Handshake::Silent
                  : h < 86 ? DeviceFaults::Handshake::Bad
                  : h < 94 ? DeviceFaults::Handshake::NoiseThenGood
                           : DeviceFaults::Handshake::GoodThenStray;
    f.handshakeDelay = static_cast<std::uint64_t>(pct(rng) < 90 ? delay(rng) % 10 : delay(rng));
    f.echo = pct(rng) < 2;
    for (const auto& r : records) {
        if (r.type == 'R') {
            const int p = pct(rng);
            f.replyKind.push_back(p < 94 ? 0 : (p < 97 ? 1 : 2));
            f.replyDelay.push_back(
                static_cast<std::uint64_t>(pct(rng) < 90 ? delay(rng) % 8 : delay(rng)));
        }
    }
    return f;
}

}  // namespace reburn3::testing
