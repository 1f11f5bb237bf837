// SPDX-License-Identifier: Apache-2.0
#include "app/form1.h"

namespace reburn3 {

// Puts the state record and the fields that mirror it into their start values.
// PortInfo, TimeNow and TimeLast are left as they are.
void Form1::InitVariables() {
    m_state.CommandLine.clear();
    m_state.FileName.clear();
    m_state.FileMode = 0;
    m_state.RecordsRemaining = 0;
    m_state.RecordsTotal = 0;
    m_state.RecordsDone = 0;
    m_state.PercentDone = 0.0F;
    m_state.ComPort = 6;
    m_state.PortIndex = 3;
    m_state.PortOpen = kFalse;
    m_state.LastError = 0;
    m_state.PortBusy = kFalse;
    m_state.RxByte = -1;
    m_state.TxByte = 0;
    m_state.RecType = " ";
    m_state.RecData = "  ";
    m_state.RecEnd = " ";
    m_state.LastByte0 = 0;
    m_state.LastByte1 = 0;
    m_state.ProgramMode = 0;
    m_logs.ClearStatus_Click();
    m_logs.ClearDebug_Click();
    for (const auto box : {TextBoxId::Text1, TextBoxId::Text2, TextBoxId::Text3, TextBoxId::Text4,
                           TextBoxId::Text5}) {
        m_window.setText(box, "");
    }
    m_state.Msg.clear();
    m_state.AbortPending = kFalse;
    m_state.IsrActive = kFalse;
    m_state.TimeoutReload = 54;
    m_state.TimeoutCount = 54;
    m_state.ExpectedByte = 0;
    m_desktop.selectPortOption(m_state.ComPort);
    ComxBtn_Click(static_cast<std::int16_t>(m_state.ComPort));
}

}  // namespace reburn3
