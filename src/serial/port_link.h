// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "base/message_logs.h"
#include "base/program_state.h"
#include "base/window_model.h"
#include "serial/serial_driver.h"

namespace reburn3 {

// The six operations that own the serial link; the only callers of the driver.
class PortLink {
public:
    PortLink(ProgramState& state, WindowModel& window, MessageLogs& logs, SerialDriver& driver)
        : m_state(state), m_window(window), m_logs(logs), m_driver(driver) {}

    void InitComPort();
    void FlushPort();
    void ReadPortByte();
    void SendByte();
    void PutEmptyPacket();
    void ClosePort();

    // Delivery, beyond the six operations: the bytes queued for the device that have not
    // reached the line yet (0 on success, else the driver's error number in `pending`'s
    // stead; nothing is posted), and dropping them, which is said in the debug log.
    std::int32_t pendingOutput(std::int64_t& pending);
    // 0 while the open device is still there, else the driver's loss code.
    std::int32_t checkAlive() { return m_driver.checkAlive(m_state.ComPort); }
    // True when the port itself can tell that its bytes have left (see SerialDriver).
    bool confirmsDelivery() const { return m_driver.confirmsDelivery(m_state.ComPort); }
    void discardPendingOutput();
    // True once the driver reports that the device itself went away.
    bool deviceLost() const { return m_driver.deviceLost(); }

private:
    bool configureOpenedPort();
    void applySoftSetting(std::int32_t result, std::string_view message);
    // Says how many queued bytes are about to be dropped, if any; true when there are some.
    bool reportUndelivered();

    ProgramState& m_state;
    WindowModel& m_window;
    MessageLogs& m_logs;
    SerialDriver& m_driver;
};

}  // namespace reburn3
