// SPDX-License-Identifier: Apache-2.0
#include "ui/message_logs.h"

namespace reburn3 {

// A post appends the line, brings it into view without highlighting it, lets the
// view repaint at once and then trims the log to its limit.
void MessageLogs::PostMsg1(const std::string& Msgx) {
    W.appendLine(LogId::Status, Msgx);
}

void MessageLogs::PostMsg2(const std::string& Msgy) {
    W.appendLine(LogId::Debug, Msgy);
}

void MessageLogs::ClearStatus_Click() {
    W.clearLog(LogId::Status);
}

void MessageLogs::ClearDebug_Click() {
    W.clearLog(LogId::Debug);
}

void MessageLogs::status(std::string text) {
    S.Msg = std::move(text);
    PostMsg1(S.Msg);
}

void MessageLogs::debug(std::string text) {
    S.Msg = std::move(text);
    PostMsg2(S.Msg);
}

}  // namespace reburn3
