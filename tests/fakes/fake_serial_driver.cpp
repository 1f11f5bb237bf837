// SPDX-License-Identifier: Apache-2.0
#include "fakes/fake_serial_driver.h"

#include <algorithm>

namespace reburn3::testing {

void FakeSerialDriver::scheduleAt(std::uint64_t tick, std::vector<std::uint8_t> bytes) {
    if (tick <= m_now) {
        receive(std::move(bytes));
        return;
    }
    m_scheduled.emplace(tick, std::move(bytes));
}

void FakeSerialDriver::receive(std::vector<std::uint8_t> bytes) {
    m_rx.insert(m_rx.end(), bytes.begin(), bytes.end());
}

void FakeSerialDriver::advanceTo(std::uint64_t tick) {
    for (std::uint64_t t = m_now; t < tick && !m_lost; ++t) {
        sendOnLine(m_output.bytesPerTick);
        pushToSystem();  // the event loop writes on as the port takes bytes
    }
    m_now = tick;
    auto due = m_scheduled.upper_bound(tick);
    for (auto it = m_scheduled.begin(); it != due; ++it) {
        receive(it->second);
    }
    m_scheduled.erase(m_scheduled.begin(), due);
}

void FakeSerialDriver::failPutByteAfter(std::size_t okCount, std::int32_t code) {
    m_putByteBudget = okCount;
    m_putByteBudgetCode = code;
}

int FakeSerialDriver::count(const std::string& operation) const {
    return static_cast<int>(std::count_if(m_calls.begin(), m_calls.end(),
                                          [&](const Call& c) { return c.name == operation; }));
}

std::vector<std::string> FakeSerialDriver::callNames() const {
    std::vector<std::string> names;
    for (const auto& c : m_calls) {
        names.push_back(c.name);
    }
    return names;
}

void FakeSerialDriver::pushToSystem() {
    ++m_pushes;
    if (m_output.stallEvery != 0 && m_pushes % m_output.stallEvery == 0) {
        return;  // EAGAIN: the system takes nothing this time
    }
    while (!m_queue.empty() && m_system.size() < m_output.systemBuffer) {
        m_system.push_back(m_queue.front());
        m_queue.pop_front();
    }
}

void FakeSerialDriver::sendOnLine(std::size_t count) {
    for (std::size_t i = 0; i < count && !m_system.empty() && !m_lineStopped; ++i) {
        const std::uint8_t b = m_system.front();
        m_system.pop_front();
        deliver(b);
    }
}

void FakeSerialDriver::deliver(std::uint8_t byte) {
    m_written.push_back(byte);
    if (onByteWritten) {
        onByteWritten(byte);
    }
}

void FakeSerialDriver::dropUnsent() {
    m_discarded += unsent();
    m_queue.clear();
    m_system.clear();
}

std::int32_t FakeSerialDriver::record(const std::string& name, std::vector<std::int32_t> args) {
    m_calls.push_back({name, std::move(args)});
    const auto it = m_results.find(name);
    return it == m_results.end() ? 0 : it->second;
}

std::int32_t FakeSerialDriver::InitializePort(std::int32_t port, std::int32_t portIndex,
                                              std::int32_t a, std::int32_t b, std::int32_t c,
                                              std::int32_t d, std::int32_t rxBufferSize,
                                              std::int32_t txBufferSize, std::int32_t e) {
    return record("InitializePort", {port, portIndex, a, b, c, d, rxBufferSize, txBufferSize, e});
}

std::int32_t FakeSerialDriver::ser_rs232_getport(std::int32_t port, PortInfoRecord& info) {
    info.putInt16(18, 0x1234);  // a value the driver reports and the program keeps
    return record("ser_rs232_getport", {port});
}

std::int32_t FakeSerialDriver::SetPortCharacteristics(std::int32_t port, std::int32_t baudCode,
                                                      std::int32_t parity,
                                                      std::int32_t dataBitsCode,
                                                      std::int32_t stopBits,
                                                      std::int32_t protocol) {
    return record("SetPortCharacteristics",
                  {port, baudCode, parity, dataBitsCode, stopBits, protocol});
}

std::int32_t FakeSerialDriver::CdrvSetTimerResolution(std::int32_t port, std::int32_t resolution) {
    return record("CdrvSetTimerResolution", {port, resolution});
}

std::int32_t FakeSerialDriver::SetTimeout(std::int32_t port, std::int32_t timeout) {
    return record("SetTimeout", {port, timeout});
}

std::int32_t FakeSerialDriver::SetPaceTime(std::int32_t port, std::int32_t paceTime) {
    return record("SetPaceTime", {port, paceTime});
}

std::int32_t FakeSerialDriver::FlushReceiveBuffer(std::int32_t port) {
    const std::int32_t result = record("FlushReceiveBuffer", {port});
    if (result == 0) {
        m_rx.clear();
    }
    return result;
}

std::int32_t FakeSerialDriver::FlushTransmitBuffer(std::int32_t port) {
    const std::int32_t result = record("FlushTransmitBuffer", {port});
    if (m_lost) {
        return kLostCode;
    }
    if (result == 0) {
        dropUnsent();
    }
    return result;
}

std::int32_t FakeSerialDriver::IsReceiveBufferEmpty(std::int32_t port) {
    m_calls.push_back({"IsReceiveBufferEmpty", {port}});
    return m_rx.empty() || m_lost ? 1 : 0;
}

std::int32_t FakeSerialDriver::GetByte(std::int32_t port) {
    m_calls.push_back({"GetByte", {port}});
    if (m_rx.empty()) {
        return -1;
    }
    const std::uint8_t b = m_rx.front();
    m_rx.pop_front();
    return b;
}

std::int32_t FakeSerialDriver::PutByte(std::int32_t port, std::int32_t byte) {
    std::int32_t result = record("PutByte", {port, byte});
    if (m_lost) {
        return kLostCode;
    }
    if (result == 0 && m_putByteBudget != SIZE_MAX) {
        if (m_putByteBudget == 0) {
            result = m_putByteBudgetCode;
        } else {
            --m_putByteBudget;
        }
    }
    if (result == 0) {
        ++m_accepted;
        if (instantOutput()) {
            deliver(static_cast<std::uint8_t>(byte));
        } else {
            m_queue.push_back(static_cast<std::uint8_t>(byte));
        }
    }
    return result;
}

std::int32_t FakeSerialDriver::ser_rs232_putpacket(std::int32_t port, std::int32_t length,
                                                   const char* buffer) {
    const std::int32_t result = record("ser_rs232_putpacket", {port, length, buffer[0], buffer[1]});
    if (m_lost) {
        return kLostCode;
    }
    m_packetMarks.push_back(m_accepted);
    pushToSystem();
    return result;
}

std::int32_t FakeSerialDriver::UnInitializePort(std::int32_t port) {
    const std::int32_t result = record("UnInitializePort", {port});
    dropUnsent();  // closing a port drops what it still holds
    return m_lost ? kLostCode : result;
}

std::int32_t FakeSerialDriver::outputPending(std::int32_t port, std::int64_t& pending) {
    const std::int32_t result = record("outputPending", {port});
    if (!m_lost) {
        pushToSystem();
    }
    pending = static_cast<std::int64_t>(unsent());
    return m_lost ? kLostCode : result;
}

std::string FakeSerialDriver::describeOpenError(std::int32_t /*code*/) const {
    return openErrorReason;
}

}  // namespace reburn3::testing
