// SPDX-License-Identifier: Apache-2.0
#include "serial/port_link.h"

#include <string>

#include "base/messages.h"

namespace reburn3 {

namespace {

// The driver's open arguments: port index, 9 (the device class), 1024-byte receive and
// transmit buffers. The line settings are the driver's codes (line_code).
constexpr std::int32_t kDeviceClass = 9;
constexpr std::int32_t kBufferSize = 1024;
constexpr std::int32_t kTimerResolution = 1;
constexpr std::int32_t kTimeout = 20;
constexpr std::int32_t kPaceTime = 0;
constexpr int kFirstPort = 1;
constexpr int kLastPort = 8;

std::string withNumber(std::string_view message, std::int32_t number) {
    return std::string(message) + std::to_string(number);
}

}  // namespace

void PortLink::InitComPort() {
    if (m_state.ComPort < kFirstPort || m_state.ComPort > kLastPort) {
        m_logs.debug(std::string(text::kPortSelectionInvalid));
        return;
    }
    if (isSet(m_state.PortOpen)) {
        m_logs.debug(std::string(text::kPortAlreadyOpen));
        return;
    }
    m_state.PortIndex = m_state.ComPort - 1;
    m_state.LastError = m_driver.InitializePort(m_state.ComPort, m_state.PortIndex, 0, 0,
                                                kDeviceClass, 0, kBufferSize, kBufferSize, 0);
    if (m_state.LastError != 0) {
        m_logs.debug(withNumber(text::kErrInitializing, m_state.LastError));
        if (std::string reason = m_driver.describeOpenError(m_state.LastError); !reason.empty()) {
            m_logs.debug(std::move(reason));
        }
        return;
    }
    if (!configureOpenedPort()) {
        // The driver holds the port from InitializePort on: give it back, so that
        // the next attempt can open it again.
        m_driver.UnInitializePort(m_state.ComPort);
        return;
    }
    applySoftSetting(m_driver.CdrvSetTimerResolution(m_state.ComPort, kTimerResolution),
                     text::kErrTimerResolution);
    applySoftSetting(m_driver.SetTimeout(m_state.ComPort, kTimeout), text::kErrTimeout);
    applySoftSetting(m_driver.SetPaceTime(m_state.ComPort, kPaceTime), text::kErrPaceTime);

    m_logs.status(std::string(text::kPortOpened));
    m_window.setText(TextBoxId::Text2, std::string(text::kPortBoxPrefix) +
                                           std::to_string(m_state.ComPort) +
                                           std::string(text::kPortBoxSuffix));
    m_state.PortOpen = kTrue;
    FlushPort();
    m_state.IsrActive = kFalse;
    m_window.setTimerEnabled(true);
}

bool PortLink::configureOpenedPort() {
    m_state.LastError = m_driver.ser_rs232_getport(m_state.ComPort, m_state.PortInfo);
    if (m_state.LastError != 0) {
        m_logs.debug(withNumber(text::kErrParameters, m_state.LastError));
        return false;
    }
    m_state.PortInfo.putInt32(port_record::kRateOffset, line_code::kRate);
    m_state.PortInfo.putInt16(port_record::kParityOffset, line_code::kParity);
    m_state.PortInfo.putInt16(port_record::kDataBitsOffset, line_code::kDataBits);
    m_state.PortInfo.putInt16(port_record::kStopBitsOffset, line_code::kStopBits);
    m_state.PortInfo.putInt16(port_record::kProtocolOffset, line_code::kProtocol);
    m_state.LastError = m_driver.SetPortCharacteristics(m_state.ComPort, line_code::kRate,
                                                        line_code::kParity, line_code::kDataBits,
                                                        line_code::kStopBits, line_code::kProtocol);
    if (m_state.LastError != 0) {
        m_logs.debug(withNumber(text::kErrCharacteristics, m_state.LastError));
        return false;
    }
    return true;
}

void PortLink::applySoftSetting(std::int32_t result, std::string_view message) {
    m_state.LastError = result;
    if (m_state.LastError != 0) {
        m_logs.debug(withNumber(message, m_state.LastError));
    }
}

void PortLink::FlushPort() {
    if (!isSet(m_state.PortOpen)) {
        return;
    }
    m_state.LastError = m_driver.FlushReceiveBuffer(m_state.ComPort);
    if (m_state.LastError != 0) {
        m_logs.debug(withNumber(text::kErrFlushReceive, m_state.LastError));
        return;
    }
    m_state.LastError = m_driver.FlushTransmitBuffer(m_state.ComPort);
    if (m_state.LastError != 0) {
        m_logs.debug(withNumber(text::kErrFlushTransmit, m_state.LastError));
    }
}

void PortLink::ReadPortByte() {
    m_state.RxByte = -1;
    if (!isSet(m_state.PortOpen)) {
        return;
    }
    m_state.LastError = m_driver.IsReceiveBufferEmpty(m_state.ComPort);
    if (m_state.LastError != 0) {
        return;
    }
    m_state.RxByte = m_driver.GetByte(m_state.ComPort) & 0xFF;
}

void PortLink::SendByte() {
    m_state.PortBusy = kTrue;
    m_state.LastError = m_driver.PutByte(m_state.ComPort, m_state.TxByte);
    if (m_state.LastError != 0) {
        m_logs.debug(withNumber(text::kErrPutByte, m_state.LastError));
    }
    m_state.PortBusy = kFalse;
}

void PortLink::PutEmptyPacket() {
    static constexpr char kPacket[] = "0";
    m_state.PortBusy = kTrue;
    m_state.LastError = m_driver.ser_rs232_putpacket(m_state.ComPort, 0, kPacket);
    if (m_state.LastError != 0) {
        m_logs.debug(withNumber(text::kErrPutPacket, m_state.LastError));
    }
    m_state.PortBusy = kFalse;
}

void PortLink::ClosePort() {
    if (!isSet(m_state.PortOpen)) {
        return;
    }
    // Closing drops whatever the port still holds for the device: never silently.
    reportUndelivered();
    m_state.LastError = m_driver.UnInitializePort(m_state.ComPort);
    if (m_state.LastError != 0) {
        m_logs.debug(std::string(text::kErrClosePrefix) + std::to_string(m_state.LastError) +
                     std::string(text::kErrCloseMiddle) + std::to_string(m_state.ComPort));
    } else {
        m_logs.status(std::string(text::kPortClosed) + std::to_string(m_state.ComPort));
    }
    m_state.PortOpen = kFalse;
}

std::int32_t PortLink::pendingOutput(std::int64_t& pending) {
    pending = 0;
    return m_driver.outputPending(m_state.ComPort, pending);
}

bool PortLink::reportUndelivered() {
    std::int64_t pending = 0;
    if (pendingOutput(pending) != 0 || pending <= 0) {
        return false;
    }
    m_logs.debug(std::string(text::kDiscardedPrefix) + std::to_string(pending) +
                 std::string(text::kDiscardedSuffix));
    return true;
}

void PortLink::discardPendingOutput() {
    if (!isSet(m_state.PortOpen) || !reportUndelivered()) {
        return;
    }
    m_state.LastError = m_driver.FlushTransmitBuffer(m_state.ComPort);
    if (m_state.LastError != 0) {
        m_logs.debug(withNumber(text::kErrFlushTransmit, m_state.LastError));
    }
}

}  // namespace reburn3
