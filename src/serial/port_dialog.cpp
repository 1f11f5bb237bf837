// SPDX-License-Identifier: Apache-2.0
#include "serial/port_dialog.h"

#include "base/messages.h"

namespace reburn3 {

// "Configure COM port": stops the ticks, gives the port back and shows the dialog.
void PortDialog::ConfigComPort_Click() {
    m_window.setTimerEnabled(false);
    if (isSet(m_state.IsrActive)) {
        m_logs.status(std::string(text::kComSetupFailed));
        return;
    }
    if (isSet(m_state.PortOpen)) {
        m_link.ClosePort();
        m_state.IsrActive = kFalse;
    }
    m_window.setText(TextBoxId::Text2, "");
    m_desktop.showPortDialog();
}

// The choice is in force at once, before either button is pressed.
void PortDialog::ComxBtn_Click(std::int16_t Index) {
    m_state.ComPort = Index;
}

void PortDialog::Initialize_Click() {
    m_link.InitComPort();
    m_desktop.hidePortDialog();
}

void PortDialog::Cancel1_Click() {
    m_logs.status(std::string(text::kCommsCancelled));
    m_desktop.hidePortDialog();
}

}  // namespace reburn3
