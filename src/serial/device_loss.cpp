// SPDX-License-Identifier: Apache-2.0
#include "serial/device_loss.h"

#include "base/messages.h"

namespace reburn3 {

std::string deviceLossLine(const std::string& device) {
    return std::string(text::kDeviceLostPrefix) + device + std::string(text::kDeviceLostSuffix);
}

std::string DeviceLoss::lostDevice() const {
    std::string device = m_driver.deviceName(m_state.ComPort);
    if (device.empty()) {
        device = std::string(text::kPortBoxPrefix) + std::to_string(m_state.ComPort);
    }
    return device;
}

bool DeviceLoss::portLost() {
    if (!isSet(m_state.PortOpen) || !m_driver.deviceLost()) {
        return false;
    }
    m_logs.debug(deviceLossLine(lostDevice()));
    m_window.setText(TextBoxId::Text2, "");
    // The driver answers with its loss code here; that is already said above.
    (void)m_driver.UnInitializePort(m_state.ComPort);
    m_state.PortOpen = kFalse;
    m_state.LastError = 0;
    if (m_state.ProgramMode == 0) {
        m_window.setTimerEnabled(false);
    }
    return true;
}

}  // namespace reburn3
