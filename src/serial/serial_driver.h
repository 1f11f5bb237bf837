// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "base/program_state.h"

namespace reburn3 {

// The line settings the program asks of every port, as the driver's codes: 11 is the
// fastest rate (115200 baud), parity 0 is none, data-bits code 3 is 8 bits, stop-bits 0
// is one stop bit and protocol 0 is no handshaking. The driver accepts these alone.
namespace line_code {
inline constexpr std::int32_t kRate = 11;
inline constexpr std::int32_t kParity = 0;
inline constexpr std::int32_t kDataBits = 3;
inline constexpr std::int32_t kStopBits = 0;
inline constexpr std::int32_t kProtocol = 0;
}  // namespace line_code

// Where the port description record (PortInfoRecord) holds the line settings.
namespace port_record {
inline constexpr std::size_t kRateOffset = 8;     // 32 bits
inline constexpr std::size_t kParityOffset = 12;  // 16 bits each from here
inline constexpr std::size_t kDataBitsOffset = 14;
inline constexpr std::size_t kStopBitsOffset = 16;
inline constexpr std::size_t kProtocolOffset = 20;
}  // namespace port_record

// The serial layer the program talks to: thirteen synchronous operations on a port
// numbered 1 to 8. Every result is 0 for success and any other value an error
// number, except IsReceiveBufferEmpty (0 means a byte is waiting) and GetByte
// (the byte, in the low 8 bits).
class SerialDriver {
public:
    virtual ~SerialDriver() = default;

    virtual std::int32_t InitializePort(std::int32_t port, std::int32_t portIndex, std::int32_t a,
                                        std::int32_t b, std::int32_t c, std::int32_t d,
                                        std::int32_t rxBufferSize, std::int32_t txBufferSize,
                                        std::int32_t e) = 0;
    virtual std::int32_t ser_rs232_getport(std::int32_t port, PortInfoRecord& info) = 0;
    virtual std::int32_t SetPortCharacteristics(std::int32_t port, std::int32_t baudCode,
                                                std::int32_t parity, std::int32_t dataBitsCode,
                                                std::int32_t stopBits, std::int32_t protocol) = 0;
    virtual std::int32_t CdrvSetTimerResolution(std::int32_t port, std::int32_t resolution) = 0;
    virtual std::int32_t SetTimeout(std::int32_t port, std::int32_t timeout) = 0;
    virtual std::int32_t SetPaceTime(std::int32_t port, std::int32_t paceTime) = 0;
    virtual std::int32_t FlushReceiveBuffer(std::int32_t port) = 0;
    virtual std::int32_t FlushTransmitBuffer(std::int32_t port) = 0;
    virtual std::int32_t IsReceiveBufferEmpty(std::int32_t port) = 0;
    virtual std::int32_t GetByte(std::int32_t port) = 0;
    virtual std::int32_t PutByte(std::int32_t port, std::int32_t byte) = 0;
    virtual std::int32_t ser_rs232_putpacket(std::int32_t port, std::int32_t length,
                                             const char* buffer) = 0;
    virtual std::int32_t UnInitializePort(std::int32_t port) = 0;

    // The reason behind a failed InitializePort in plain words (device missing,
    // permission denied, in use), or empty when the driver has nothing to add.
    virtual std::string describeOpenError(std::int32_t /*code*/) const { return {}; }

    // Delivery. PutByte and a packet write only queue bytes; they have reached the line once
    // the driver has handed them to the system and the system has sent them out. This pushes
    // what the system takes now, without waiting, and leaves in `pending` the bytes that have
    // not gone out yet. 0 on success, else an error number (the device was lost, say).
    virtual std::int32_t outputPending(std::int32_t /*port*/, std::int64_t& pending) {
        pending = 0;
        return 0;
    }
    // Asked once the output queue reads empty, before a run is declared complete: 0 while
    // the open device is still there, else the loss code (and the device counts as lost
    // from then on). A driver empties its queue the moment its device is unplugged, a
    // little before the loss shows anywhere else.
    virtual std::int32_t checkAlive(std::int32_t /*port*/) { return 0; }
    // True when the port itself can tell that its bytes have left (a UART, a USB adapter:
    // the queue count and the alive check); false for a pseudo-terminal or a network serial
    // bridge, where bytes handed over may still wait in the other end's program.
    virtual bool confirmsDelivery(std::int32_t /*port*/) const { return true; }
    // True once the open device went away for good (a USB adapter pulled, the far end of a
    // pseudo-terminal closed). A read that finds nothing or a write that must wait is no loss.
    virtual bool deviceLost() const { return false; }
    // The system's name for the device behind port `port` (a device path), or empty.
    virtual std::string deviceName(std::int32_t /*port*/) const { return {}; }
    // The device port `port` was pointed at in place of the one the COMn map names, or
    // empty when it opens the mapped one.
    virtual std::string assignedDevice(std::int32_t /*port*/) const { return {}; }

    // Whom to tell when the open device goes away for good. A driver that can see a loss
    // tells it once, from the event loop and never from within one of its own calls, so
    // that the window takes the loss in between ticks.
    void setLossListener(std::function<void()> listener) { m_lossListener = std::move(listener); }

protected:
    void tellLoss() const {
        if (m_lossListener) {
            m_lossListener();
        }
    }

private:
    std::function<void()> m_lossListener;
};

}  // namespace reburn3
