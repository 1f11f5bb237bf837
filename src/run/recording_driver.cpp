// SPDX-License-Identifier: Apache-2.0
#include "run/recording_driver.h"

#include <cstdio>
#include <fstream>

namespace reburn3::run {

std::int32_t RecordingDriver::GetByte(std::int32_t port) {
    const std::int32_t value = m_inner.GetByte(port);
    if (value >= 0) {
        note(false, value);
        ++m_received;
    }
    return value;
}

std::int32_t RecordingDriver::PutByte(std::int32_t port, std::int32_t byte) {
    const std::int32_t rc = m_inner.PutByte(port, byte);
    if (rc == 0) {
        note(true, byte);
        ++m_sent;
    }
    return rc;
}

void RecordingDriver::note(bool sent, std::int32_t value) {
    const TracedByte b{now(), sent, static_cast<std::uint8_t>(value & 0xFF)};
    if (m_keep) {
        m_bytes.push_back(b);
    }
    if (m_sink != nullptr) {
        std::fprintf(m_sink, "%llu %s %02X\n", static_cast<unsigned long long>(b.tick),
                     b.sent ? "TX" : "RX", static_cast<unsigned>(b.value));
    }
}

std::uint64_t RecordingDriver::sentCount() const {
    const std::uint64_t gone = m_unsent + m_dropped;
    return gone > m_sent ? 0 : m_sent - gone;
}

std::int32_t RecordingDriver::outputPending(std::int32_t port, std::int64_t& pending) {
    const std::int32_t rc = m_inner.outputPending(port, pending);
    // A lost device leaves its count of the bytes it never wrote.
    m_unsent = pending > 0 ? static_cast<std::uint64_t>(pending) : 0;
    return rc;
}

void RecordingDriver::dropUnsent(std::int32_t port) {
    std::int64_t pending = 0;
    m_inner.outputPending(port, pending);
    m_dropped += pending > 0 ? static_cast<std::uint64_t>(pending) : 0;
    m_unsent = 0;
}

std::int32_t RecordingDriver::FlushTransmitBuffer(std::int32_t port) {
    dropUnsent(port);
    return m_inner.FlushTransmitBuffer(port);
}

std::int32_t RecordingDriver::UnInitializePort(std::int32_t port) {
    dropUnsent(port);
    return m_inner.UnInitializePort(port);
}

std::string RecordingDriver::traceText() const {
    std::string out = "# tick direction byte (TX: to the device, RX: from it; ticks of 5 ms)\n";
    out.reserve(out.size() + m_bytes.size() * 14);
    char line[48];
    for (const TracedByte& b : m_bytes) {
        std::snprintf(line, sizeof line, "%llu %s %02X\n", static_cast<unsigned long long>(b.tick),
                      b.sent ? "TX" : "RX", static_cast<unsigned>(b.value));
        out += line;
    }
    return out;
}

bool RecordingDriver::writeTrace(const std::string& path) const {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) {
        return false;
    }
    file << traceText();
    return static_cast<bool>(file.flush());
}

}  // namespace reburn3::run
