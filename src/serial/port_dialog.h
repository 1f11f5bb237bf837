// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>

#include "base/desktop.h"
#include "base/message_logs.h"
#include "base/program_state.h"
#include "base/window_model.h"
#include "serial/port_link.h"

namespace reburn3 {

// "Configure COM port" and the port selection dialog's handlers. The dialog holds no
// state of its own: an option click writes ComPort at once.
class PortDialog {
public:
    static constexpr int kFirstPort = 1;
    static constexpr int kLastPort = 8;

    PortDialog(ProgramState& state, WindowModel& window, MessageLogs& logs, Desktop& desktop,
               PortLink& link)
        : m_state(state), m_window(window), m_logs(logs), m_desktop(desktop), m_link(link) {}

    void ConfigComPort_Click();
    void ComxBtn_Click(std::int16_t Index);
    void Initialize_Click();
    void Cancel1_Click();

private:
    ProgramState& m_state;
    WindowModel& m_window;
    MessageLogs& m_logs;
    Desktop& m_desktop;
    PortLink& m_link;
};

}  // namespace reburn3
