#pragma once

#include "app/program_state.h"
#include "serial/serial_driver.h"
#include "ui/message_logs.h"
#include "ui/window_model.h"

namespace reburn3 {

// The six operations that own the serial link; the only callers of the driver.
class PortLink {
public:
    PortLink(ProgramState& state, WindowModel& window, MessageLogs& logs, SerialDriver& driver)
        : S(state), W(window), L(logs), D(driver) {}

    void InitComPort();
    void FlushPort();
    void ReadPortByte();
    void SendByte();
    void PutEmptyPacket();
    void ClosePort();

private:
    bool configureOpenedPort();
    void applySoftSetting(std::int32_t result, std::string_view message);

    ProgramState& S;
    WindowModel& W;
    MessageLogs& L;
    SerialDriver& D;
};

}  // namespace reburn3
