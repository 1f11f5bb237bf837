// SPDX-License-Identifier: Apache-2.0
#include "app/form1.h"

namespace reburn3 {

// Puts the state record and the fields that mirror it into their start values.
// PortInfo, TimeNow and TimeLast are left as they are.
void Form1::InitVariables() {
    S.CommandLine.clear();
    S.FileName.clear();
    S.FileMode = 0;
    S.RecordsRemaining = 0;
    S.RecordsTotal = 0;
    S.RecordsDone = 0;
    S.PercentDone = 0.0F;
    S.ComPort = 6;
    S.PortIndex = 3;
    S.PortOpen = kFalse;
    S.LastError = 0;
    S.PortBusy = kFalse;
    S.RxByte = -1;
    S.TxByte = 0;
    S.RecType = " ";
    S.RecData = "  ";
    S.RecEnd = " ";
    S.LastByte0 = 0;
    S.LastByte1 = 0;
    S.ProgramMode = 0;
    m_logs.ClearStatus_Click();
    m_logs.ClearDebug_Click();
    for (const auto box : {TextBoxId::Text1, TextBoxId::Text2, TextBoxId::Text3, TextBoxId::Text4,
                           TextBoxId::Text5}) {
        m_window.setText(box, "");
    }
    S.Msg.clear();
    S.AbortPending = kFalse;
    S.IsrActive = kFalse;
    S.TimeoutReload = 54;
    S.TimeoutCount = 54;
    S.ExpectedByte = 0;
    m_desktop.selectPortOption(S.ComPort);
    ComxBtn_Click(static_cast<std::int16_t>(S.ComPort));
}

}  // namespace reburn3
