// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "base/desktop.h"
#include "base/message_logs.h"
#include "base/program_state.h"
#include "base/window_model.h"
#include "script/record_reader.h"
#include "script/script_stream.h"
#include "serial/port_link.h"

namespace reburn3 {

// "Select Input File" and "Exit / Abort".
class MainCommands {
public:
    MainCommands(ProgramState& state, WindowModel& window, MessageLogs& logs, Desktop& desktop,
                 ScriptStream& stream, RecordReader& reader, PortLink& link)
        : m_state(state),
          m_window(window),
          m_logs(logs),
          m_desktop(desktop),
          m_stream(stream),
          m_reader(reader),
          m_link(link) {}

    void SelectInputFile_Click();
    void AbortProgram_Click();

private:
    FileDialogSettings dialogSettings() const;

    ProgramState& m_state;
    WindowModel& m_window;
    MessageLogs& m_logs;
    Desktop& m_desktop;
    ScriptStream& m_stream;
    RecordReader& m_reader;
    PortLink& m_link;
};

}  // namespace reburn3
