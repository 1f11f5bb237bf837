// SPDX-License-Identifier: Apache-2.0
#include "serial/port_dialog.h"

#include "ui/messages.h"

namespace reburn3 {

// "Configure COM port": stops the ticks, gives the port back and shows the dialog.
void PortDialog::ConfigComPort_Click() {
    W.setTimerEnabled(false);
    if (isSet(S.IsrActive)) {
        L.status(std::string(text::kComSetupFailed));
        return;
    }
    if (isSet(S.PortOpen)) {
        P.ClosePort();
        S.IsrActive = kFalse;
    }
    W.setText(TextBoxId::Text2, "");
    D.showPortDialog();
}

// The choice is in force at once, before either button is pressed.
void PortDialog::ComxBtn_Click(std::int16_t Index) {
    S.ComPort = Index;
}

void PortDialog::Initialize_Click() {
    P.InitComPort();
    D.hidePortDialog();
}

void PortDialog::Cancel1_Click() {
    L.status(std::string(text::kCommsCancelled));
    D.hidePortDialog();
}

}  // namespace reburn3
