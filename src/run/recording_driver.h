// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "serial/serial_driver.h"

namespace reburn3::run {

// One byte that crossed the line, with the tick in which it did.
struct TracedByte {
    std::uint64_t tick = 0;
    bool sent = false;  // true: to the device; false: from it
    std::uint8_t value = 0;
};

// Passes every call on to another driver and notes every byte sent (an accepted PutByte)
// and received (a GetByte), stamped with the current tick. A byte accepted is not yet a
// byte written: it counts as written once the driver no longer holds it, and bytes dropped
// by a transmit flush or a close never do.
class RecordingDriver final : public SerialDriver {
public:
    explicit RecordingDriver(SerialDriver& inner) : m_inner(inner) {}

    void setTickSource(std::function<std::uint64_t()> ticks) { m_ticks = std::move(ticks); }
    // Off: the bytes are only counted, so that a download of any length runs in
    // constant memory (16 bytes a byte would be kept otherwise). On by default.
    void setKeepBytes(bool keep) { m_keep = keep; }
    // Every byte is also written to `sink` as a trace line when it crosses the line;
    // nullptr: none.
    void setTraceSink(std::FILE* sink) { m_sink = sink; }
    const std::vector<TracedByte>& bytes() const { return m_bytes; }
    // Bytes accepted by PutByte.
    std::uint64_t queuedCount() const { return m_sent; }
    // Bytes that have left for the line: accepted, less those still held or dropped.
    std::uint64_t sentCount() const;
    std::uint64_t receivedCount() const { return m_received; }

    // The trace as text: one line per byte, "tick TX|RX hex".
    std::string traceText() const;
    // Writes the trace to `path`; false when the file cannot be written.
    bool writeTrace(const std::string& path) const;

    std::int32_t InitializePort(std::int32_t port, std::int32_t portIndex, std::int32_t a,
                                std::int32_t b, std::int32_t c, std::int32_t d,
                                std::int32_t rxBufferSize, std::int32_t txBufferSize,
                                std::int32_t e) override {
        return m_inner.InitializePort(port, portIndex, a, b, c, d, rxBufferSize, txBufferSize, e);
    }
    std::int32_t ser_rs232_getport(std::int32_t port, PortInfoRecord& info) override {
        return m_inner.ser_rs232_getport(port, info);
    }
    std::int32_t SetPortCharacteristics(std::int32_t port, std::int32_t baudCode,
                                        std::int32_t parity, std::int32_t dataBitsCode,
                                        std::int32_t stopBits, std::int32_t protocol) override {
        return m_inner.SetPortCharacteristics(port, baudCode, parity, dataBitsCode, stopBits,
                                              protocol);
    }
    std::int32_t CdrvSetTimerResolution(std::int32_t port, std::int32_t resolution) override {
        return m_inner.CdrvSetTimerResolution(port, resolution);
    }
    std::int32_t SetTimeout(std::int32_t port, std::int32_t timeout) override {
        return m_inner.SetTimeout(port, timeout);
    }
    std::int32_t SetPaceTime(std::int32_t port, std::int32_t paceTime) override {
        return m_inner.SetPaceTime(port, paceTime);
    }
    std::int32_t FlushReceiveBuffer(std::int32_t port) override {
        return m_inner.FlushReceiveBuffer(port);
    }
    std::int32_t FlushTransmitBuffer(std::int32_t port) override;
    std::int32_t IsReceiveBufferEmpty(std::int32_t port) override {
        return m_inner.IsReceiveBufferEmpty(port);
    }
    std::int32_t GetByte(std::int32_t port) override;
    std::int32_t PutByte(std::int32_t port, std::int32_t byte) override;
    std::int32_t ser_rs232_putpacket(std::int32_t port, std::int32_t length,
                                     const char* buffer) override {
        return m_inner.ser_rs232_putpacket(port, length, buffer);
    }
    std::int32_t UnInitializePort(std::int32_t port) override;
    std::string describeOpenError(std::int32_t code) const override {
        return m_inner.describeOpenError(code);
    }
    std::int32_t outputPending(std::int32_t port, std::int64_t& pending) override;
    std::int32_t checkAlive(std::int32_t port) override { return m_inner.checkAlive(port); }
    bool confirmsDelivery(std::int32_t port) const override {
        return m_inner.confirmsDelivery(port);
    }
    bool deviceLost() const override { return m_inner.deviceLost(); }
    std::string deviceName(std::int32_t port) const override { return m_inner.deviceName(port); }
    std::string assignedDevice(std::int32_t port) const override {
        return m_inner.assignedDevice(port);
    }

private:
    std::uint64_t now() const { return m_ticks ? m_ticks() : 0; }
    void note(bool sent, std::int32_t value);
    // Counts what the driver holds now as dropped: it is about to be thrown away.
    void dropUnsent(std::int32_t port);

    SerialDriver& m_inner;
    std::function<std::uint64_t()> m_ticks;
    std::vector<TracedByte> m_bytes;
    std::uint64_t m_sent = 0;
    std::uint64_t m_received = 0;
    std::uint64_t m_unsent = 0;   // held by the driver at its latest count
    std::uint64_t m_dropped = 0;  // dropped by transmit flushes and closes
    bool m_keep = true;
    std::FILE* m_sink = nullptr;
};

}  // namespace reburn3::run
