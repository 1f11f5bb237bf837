// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "serial/serial_driver.h"

namespace reburn3::testing {

// A serial driver with a device behind it that the test scripts: reply bytes become
// waiting at chosen ticks (or at once, from a reaction to a written byte), and any
// operation can be made to fail. It records every call and every byte written.
//
// Its output side is as hard as a real port's when the test asks for it (setOutput): bytes
// accepted by PutByte wait in the driver's queue; every push (the packet write, a delivery
// count, the event loop between ticks) moves only what fits into the system's bounded buffer
// (a partial write), some pushes move nothing at all (a transient EAGAIN), and the line
// drains a fixed number of bytes a tick to the device. Only then does the device see them.
// By default every byte reaches the device the moment it is accepted.
class FakeSerialDriver final : public SerialDriver {
public:
    struct Output {
        std::size_t systemBuffer = SIZE_MAX;  // bytes the system takes at most
        std::size_t bytesPerTick = SIZE_MAX;  // bytes the line sends in a tick
        std::size_t stallEvery = 0;           // every n-th push moves nothing (0: none)
    };
    static constexpr std::int32_t kLostCode = 31;

    struct Call {
        std::string name;
        std::vector<std::int32_t> args;
    };

    // Bytes that become waiting when the clock reaches `tick`.
    void scheduleAt(std::uint64_t tick, std::vector<std::uint8_t> bytes);
    // Bytes waiting from now on.
    void receive(std::vector<std::uint8_t> bytes);
    // Moves the fake's clock: the line sends its bytes for each tick passed, the system
    // takes more from the driver's queue, and scheduled bytes whose tick has come become
    // waiting.
    void advanceTo(std::uint64_t tick);

    void setOutput(Output output) { m_output = output; }
    // The line takes nothing while stopped (a stuck adapter, a device that holds the line).
    void stopLine(bool stopped) { m_lineStopped = stopped; }
    // The device goes away for good: every call fails with kLostCode from now on.
    void loseDevice() { m_lost = true; }
    // The device is back (plugged in again): the port opens on it once more.
    void plugIn() { m_lost = false; }

    // Makes an operation return `code` from now on (0 mends it again).
    void failWith(const std::string& operation, std::int32_t code) { m_results[operation] = code; }
    // Makes PutByte fail with `code` once `okCount` more bytes have been accepted.
    void failPutByteAfter(std::size_t okCount, std::int32_t code);

    // Called with every byte accepted by PutByte (a device reacting to the host).
    std::function<void(std::uint8_t)> onByteWritten;

    int count(const std::string& operation) const;
    const std::vector<Call>& calls() const { return m_calls; }
    std::vector<std::string> callNames() const;
    // Bytes that reached the device, in order.
    const std::vector<std::uint8_t>& written() const { return m_written; }
    // Bytes accepted by PutByte, delivered or not.
    std::size_t accepted() const { return m_accepted; }
    // Bytes accepted but not delivered: in the driver's queue or the system's buffer.
    std::size_t unsent() const { return m_queue.size() + m_system.size(); }
    // Bytes dropped by transmit flushes and closes.
    std::size_t discarded() const { return m_discarded; }
    std::size_t waiting() const { return m_rx.size(); }
    // Bytes accepted by PutByte after each zero-length packet write, in order.
    const std::vector<std::size_t>& packetMarks() const { return m_packetMarks; }

    std::int32_t InitializePort(std::int32_t port, std::int32_t portIndex, std::int32_t a,
                                std::int32_t b, std::int32_t c, std::int32_t d,
                                std::int32_t rxBufferSize, std::int32_t txBufferSize,
                                std::int32_t e) override;
    std::int32_t ser_rs232_getport(std::int32_t port, PortInfoRecord& info) override;
    std::int32_t SetPortCharacteristics(std::int32_t port, std::int32_t baudCode,
                                        std::int32_t parity, std::int32_t dataBitsCode,
                                        std::int32_t stopBits, std::int32_t protocol) override;
    std::int32_t CdrvSetTimerResolution(std::int32_t port, std::int32_t resolution) override;
    std::int32_t SetTimeout(std::int32_t port, std::int32_t timeout) override;
    std::int32_t SetPaceTime(std::int32_t port, std::int32_t paceTime) override;
    std::int32_t FlushReceiveBuffer(std::int32_t port) override;
    std::int32_t FlushTransmitBuffer(std::int32_t port) override;
    std::int32_t IsReceiveBufferEmpty(std::int32_t port) override;
    std::int32_t GetByte(std::int32_t port) override;
    std::int32_t PutByte(std::int32_t port, std::int32_t byte) override;
    std::int32_t ser_rs232_putpacket(std::int32_t port, std::int32_t length,
                                     const char* buffer) override;
    std::int32_t UnInitializePort(std::int32_t port) override;
    std::string describeOpenError(std::int32_t code) const override;
    std::int32_t outputPending(std::int32_t port, std::int64_t& pending) override;
    std::int32_t checkAlive(std::int32_t /*port*/) override { return m_lost ? kLostCode : 0; }
    bool confirmsDelivery(std::int32_t /*port*/) const override { return m_confirms; }
    // A port that cannot tell when its bytes have left (a pseudo-terminal).
    void setConfirmsDelivery(bool confirms) { m_confirms = confirms; }
    bool deviceLost() const override { return m_lost; }
    std::string deviceName(std::int32_t port) const override {
        return "/dev/fake" + std::to_string(port);
    }

    std::string openErrorReason;  // what describeOpenError answers

private:
    std::int32_t record(const std::string& name, std::vector<std::int32_t> args);
    bool instantOutput() const {
        return m_output.systemBuffer == SIZE_MAX && m_output.bytesPerTick == SIZE_MAX &&
               m_output.stallEvery == 0;
    }
    void pushToSystem();
    void sendOnLine(std::size_t count);
    void deliver(std::uint8_t byte);
    void dropUnsent();

    std::vector<Call> m_calls;
    std::map<std::string, std::int32_t> m_results;
    std::multimap<std::uint64_t, std::vector<std::uint8_t>> m_scheduled;
    std::deque<std::uint8_t> m_rx;
    std::vector<std::uint8_t> m_written;
    std::vector<std::size_t> m_packetMarks;
    std::uint64_t m_now = 0;
    Output m_output;
    std::deque<std::uint8_t> m_queue;   // accepted, still in the driver
    std::deque<std::uint8_t> m_system;  // taken by the system, not yet on the line
    std::size_t m_accepted = 0;
    std::size_t m_discarded = 0;
    std::size_t m_pushes = 0;
    bool m_lineStopped = false;
    bool m_lost = false;
    bool m_confirms = true;
    std::size_t m_putByteBudget = SIZE_MAX;
    std::int32_t m_putByteBudgetCode = 0;
};

}  // namespace reburn3::testing
