// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>

#include "base/clock.h"
#include "base/desktop.h"
#include "base/message_logs.h"
#include "base/program_state.h"
#include "base/window_model.h"
#include "engine/engine.h"
#include "script/record_reader.h"
#include "script/script_stream.h"
#include "serial/device_loss.h"
#include "serial/port_dialog.h"
#include "serial/port_link.h"
#include "serial/serial_driver.h"
#include "ui/main_commands.h"

namespace reburn3 {

// The main window object: it owns the state record, the window model, the script
// stream and the logs, and offers every command and event handler of the program
// under its own name. Views and front ends forward clicks and ticks here.
class Form1 {
public:
    Form1(SerialDriver& driver, Desktop& desktop, Clock& clock);
    Form1(const Form1&) = delete;
    Form1& operator=(const Form1&) = delete;

    void InitVariables();

    // Message logs.
    void PostMsg1(const std::string& Msgx) { m_logs.PostMsg1(Msgx); }
    void PostMsg2(const std::string& Msgy) { m_logs.PostMsg2(Msgy); }
    void ClearStatus_Click() { m_logs.ClearStatus_Click(); }
    void ClearDebug_Click() { m_logs.ClearDebug_Click(); }

    // Main window commands.
    void SelectInputFile_Click() { m_commands.SelectInputFile_Click(); }
    void AbortProgram_Click() { m_commands.AbortProgram_Click(); }
    void ProgramFlash_Click() { m_engine.ProgramFlash_Click(); }
    void ConfigComPort_Click() { m_portDialog.ConfigComPort_Click(); }

    // Port selection dialog.
    void ComxBtn_Click(std::int16_t Index) { m_portDialog.ComxBtn_Click(Index); }
    void Initialize_Click() { m_portDialog.Initialize_Click(); }
    void Cancel1_Click() { m_portDialog.Cancel1_Click(); }
    void InitComPort() { m_link.InitComPort(); }

    // The window system's close command for the main window (close box, Alt+F4).
    void closeRequested();
    // The driver reported that the open device went away.
    bool portLost() { return m_loss.portLost(); }

    // The tick of Timer2.
    void Timer2_Timer() { m_engine.Timer2_Timer(); }

    ProgramState& state() { return m_state; }
    const ProgramState& state() const { return m_state; }
    WindowModel& window() { return m_window; }
    const WindowModel& window() const { return m_window; }
    Desktop& desktop() { return m_desktop; }
    PortLink& link() { return m_link; }
    RecordReader& reader() { return m_reader; }
    Engine& engine() { return m_engine; }
    const Engine& engine() const { return m_engine; }
    ScriptStream& script() { return m_script; }

private:
    ProgramState m_state;
    WindowModel m_window;
    Desktop& m_desktop;
    MessageLogs m_logs;
    ScriptStream m_script;
    PortLink m_link;
    RecordReader m_reader;
    Engine m_engine;
    MainCommands m_commands;
    PortDialog m_portDialog;
    DeviceLoss m_loss;
};

}  // namespace reburn3
