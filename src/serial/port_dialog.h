// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>

#include "app/program_state.h"
#include "serial/port_link.h"
#include "ui/desktop.h"
#include "ui/message_logs.h"
#include "ui/window_model.h"

namespace reburn3 {

// "Configure COM port" and the port selection dialog's handlers. The dialog holds no
// state of its own: an option click writes ComPort at once.
class PortDialog {
public:
    static constexpr int kFirstPort = 1;
    static constexpr int kLastPort = 8;

    PortDialog(ProgramState& state, WindowModel& window, MessageLogs& logs, Desktop& desktop,
               PortLink& link)
        : S(state), W(window), L(logs), D(desktop), P(link) {}

    void ConfigComPort_Click();
    void ComxBtn_Click(std::int16_t Index);
    void Initialize_Click();
    void Cancel1_Click();

private:
    ProgramState& S;
    WindowModel& W;
    MessageLogs& L;
    Desktop& D;
    PortLink& P;
};

}  // namespace reburn3
