// SPDX-License-Identifier: Apache-2.0
#include "serial/port_link.h"

#include <string>

#include "ui/messages.h"

namespace reburn3 {

namespace {

// The driver's open arguments and line-setting codes: port index, 9 (the device
// class), 1024-byte receive and transmit buffers; 11, 0, 3, 0, 0 select the
// fastest rate, no parity, 8 data bits, 1 stop bit and no handshaking.
constexpr std::int32_t kDeviceClass = 9;
constexpr std::int32_t kBufferSize = 1024;
constexpr std::int32_t kRateCode = 11;
constexpr std::int32_t kParityCode = 0;
constexpr std::int32_t kDataBitsCode = 3;
constexpr std::int32_t kStopBitsCode = 0;
constexpr std::int32_t kProtocolCode = 0;
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
    if (S.ComPort < kFirstPort || S.ComPort > kLastPort) {
        L.debug(std::string(text::kPortSelectionInvalid));
        return;
    }
    if (isSet(S.PortOpen)) {
        L.debug(std::string(text::kPortAlreadyOpen));
        return;
    }
    S.PortIndex = S.ComPort - 1;
    S.LastError = D.InitializePort(S.ComPort, S.PortIndex, 0, 0, kDeviceClass, 0, kBufferSize,
                                   kBufferSize, 0);
    if (S.LastError != 0) {
        L.debug(withNumber(text::kErrInitializing, S.LastError));
        if (std::string reason = D.describeOpenError(S.LastError); !reason.empty()) {
            L.debug(std::move(reason));
        }
        return;
    }
    if (!configureOpenedPort()) {
        // The driver holds the port from InitializePort on: give it back, so that
        // the next attempt can open it again.
        D.UnInitializePort(S.ComPort);
        return;
    }
    applySoftSetting(D.CdrvSetTimerResolution(S.ComPort, kTimerResolution),
                     text::kErrTimerResolution);
    applySoftSetting(D.SetTimeout(S.ComPort, kTimeout), text::kErrTimeout);
    applySoftSetting(D.SetPaceTime(S.ComPort, kPaceTime), text::kErrPaceTime);

    L.status(std::string(text::kPortOpened));
    W.setText(TextBoxId::Text2, std::string(text::kPortBoxPrefix) + std::to_string(S.ComPort) +
                                    std::string(text::kPortBoxSuffix));
    S.PortOpen = kTrue;
    FlushPort();
    S.IsrActive = kFalse;
    W.setTimerEnabled(true);
}

bool PortLink::configureOpenedPort() {
    S.LastError = D.ser_rs232_getport(S.ComPort, S.PortInfo);
    if (S.LastError != 0) {
        L.debug(withNumber(text::kErrParameters, S.LastError));
        return false;
    }
    S.PortInfo.putInt32(8, kRateCode);
    S.PortInfo.putInt16(12, kParityCode);
    S.PortInfo.putInt16(14, kDataBitsCode);
    S.PortInfo.putInt16(16, kStopBitsCode);
    S.PortInfo.putInt16(20, kProtocolCode);
    S.LastError = D.SetPortCharacteristics(S.ComPort, kRateCode, kParityCode, kDataBitsCode,
                                           kStopBitsCode, kProtocolCode);
    if (S.LastError != 0) {
        L.debug(withNumber(text::kErrCharacteristics, S.LastError));
        return false;
    }
    return true;
}

void PortLink::applySoftSetting(std::int32_t result, std::string_view message) {
    S.LastError = result;
    if (S.LastError != 0) {
        L.debug(withNumber(message, S.LastError));
    }
}

void PortLink::FlushPort() {
    if (!isSet(S.PortOpen)) {
        return;
    }
    S.LastError = D.FlushReceiveBuffer(S.ComPort);
    if (S.LastError != 0) {
        L.debug(withNumber(text::kErrFlushReceive, S.LastError));
        return;
    }
    S.LastError = D.FlushTransmitBuffer(S.ComPort);
    if (S.LastError != 0) {
        L.debug(withNumber(text::kErrFlushTransmit, S.LastError));
    }
}

void PortLink::ReadPortByte() {
    S.RxByte = -1;
    if (!isSet(S.PortOpen)) {
        return;
    }
    S.LastError = D.IsReceiveBufferEmpty(S.ComPort);
    if (S.LastError != 0) {
        return;
    }
    S.RxByte = D.GetByte(S.ComPort) & 0xFF;
}

void PortLink::SendByte() {
    S.PortBusy = kTrue;
    S.LastError = D.PutByte(S.ComPort, S.TxByte);
    if (S.LastError != 0) {
        L.debug(withNumber(text::kErrPutByte, S.LastError));
    }
    S.PortBusy = kFalse;
}

void PortLink::PutEmptyPacket() {
    static constexpr char kPacket[] = "0";
    S.PortBusy = kTrue;
    S.LastError = D.ser_rs232_putpacket(S.ComPort, 0, kPacket);
    if (S.LastError != 0) {
        L.debug(withNumber(text::kErrPutPacket, S.LastError));
    }
    S.PortBusy = kFalse;
}

void PortLink::ClosePort() {
    if (!isSet(S.PortOpen)) {
        return;
    }
    // Closing drops whatever the port still holds for the device: never silently.
    reportUndelivered();
    S.LastError = D.UnInitializePort(S.ComPort);
    if (S.LastError != 0) {
        L.debug(std::string(text::kErrClosePrefix) + std::to_string(S.LastError) +
                std::string(text::kErrCloseMiddle) + std::to_string(S.ComPort));
    } else {
        L.status(std::string(text::kPortClosed) + std::to_string(S.ComPort));
    }
    S.PortOpen = kFalse;
}

std::int32_t PortLink::pendingOutput(std::int64_t& pending) {
    pending = 0;
    return D.outputPending(S.ComPort, pending);
}

bool PortLink::reportUndelivered() {
    std::int64_t pending = 0;
    if (pendingOutput(pending) != 0 || pending <= 0) {
        return false;
    }
    L.debug(std::string(text::kDiscardedPrefix) + std::to_string(pending) +
            std::string(text::kDiscardedSuffix));
    return true;
}

void PortLink::discardPendingOutput() {
    if (!isSet(S.PortOpen) || !reportUndelivered()) {
        return;
    }
    S.LastError = D.FlushTransmitBuffer(S.ComPort);
    if (S.LastError != 0) {
        L.debug(withNumber(text::kErrFlushTransmit, S.LastError));
    }
}

}  // namespace reburn3
