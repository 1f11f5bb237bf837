#include "cli/recording_driver.h"

#include <cstdio>
#include <fstream>

namespace reburn3::cli {

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

}  // namespace reburn3::cli
