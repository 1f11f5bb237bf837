// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "app/program_state.h"
#include "script/record_reader.h"
#include "script/script_stream.h"
#include "serial/port_link.h"
#include "ui/desktop.h"
#include "ui/message_logs.h"
#include "ui/window_model.h"

namespace reburn3 {

// "Select Input File" and "Exit / Abort".
class MainCommands {
public:
    MainCommands(ProgramState& state, WindowModel& window, MessageLogs& logs, Desktop& desktop,
                 ScriptStream& stream, RecordReader& reader, PortLink& link)
        : S(state), W(window), L(logs), D(desktop), F(stream), R(reader), P(link) {}

    void SelectInputFile_Click();
    void AbortProgram_Click();

private:
    FileDialogSettings dialogSettings() const;

    ProgramState& S;
    WindowModel& W;
    MessageLogs& L;
    Desktop& D;
    ScriptStream& F;
    RecordReader& R;
    PortLink& P;
};

}  // namespace reburn3
