// SPDX-License-Identifier: Apache-2.0
#include "serial/device_loss.h"

#include "ui/messages.h"

namespace reburn3 {

std::string deviceLossLine(const std::string& device) {
    return std::string(text::kDeviceLostPrefix) + device + std::string(text::kDeviceLostSuffix);
}

std::string DeviceLoss::lostDevice() const {
    std::string device = D.deviceName(S.ComPort);
    if (device.empty()) {
        device = std::string(text::kPortBoxPrefix) + std::to_string(S.ComPort);
    }
    return device;
}

bool DeviceLoss::portLost() {
    if (!isSet(S.PortOpen) || !D.deviceLost()) {
        return false;
    }
    L.debug(deviceLossLine(lostDevice()));
    W.setText(TextBoxId::Text2, "");
    // The driver answers with its loss code here; that is already said above.
    (void)D.UnInitializePort(S.ComPort);
    S.PortOpen = kFalse;
    S.LastError = 0;
    if (S.ProgramMode == 0) {
        W.setTimerEnabled(false);
    }
    return true;
}

}  // namespace reburn3
