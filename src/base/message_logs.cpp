// SPDX-License-Identifier: Apache-2.0
#include "base/message_logs.h"

namespace reburn3 {

// A post appends the line, brings it into view without highlighting it, lets the
// view repaint at once and then trims the log to its limit.
void MessageLogs::PostMsg1(const std::string& Msgx) {
    m_window.appendLine(LogId::Status, Msgx);
}

void MessageLogs::PostMsg2(const std::string& Msgy) {
    m_window.appendLine(LogId::Debug, Msgy);
}

void MessageLogs::ClearStatus_Click() {
    m_window.clearLog(LogId::Status);
}

void MessageLogs::ClearDebug_Click() {
    m_window.clearLog(LogId::Debug);
}

void MessageLogs::status(std::string text) {
    m_state.Msg = std::move(text);
    PostMsg1(m_state.Msg);
}

void MessageLogs::debug(std::string text) {
    m_state.Msg = std::move(text);
    PostMsg2(m_state.Msg);
}

}  // namespace reburn3
