// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

#include "base/program_state.h"
#include "base/window_model.h"

namespace reburn3 {

// The status log (List1) and the debug log (List2). Every line goes through the
// shared message buffer Msg first, then to PostMsg1 or PostMsg2.
class MessageLogs {
public:
    MessageLogs(ProgramState& state, WindowModel& window) : m_state(state), m_window(window) {}

    void PostMsg1(const std::string& Msgx);
    void PostMsg2(const std::string& Msgy);
    void ClearStatus_Click();
    void ClearDebug_Click();

    // Places the text in Msg and posts Msg to the status or the debug log.
    void status(std::string text);
    void debug(std::string text);

private:
    ProgramState& m_state;
    WindowModel& m_window;
};

}  // namespace reburn3
