// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

#include "base/message_logs.h"
#include "base/program_state.h"
#include "base/window_model.h"
#include "serial/serial_driver.h"

namespace reburn3 {

// The line that says the open device went away, in plain words.
std::string deviceLossLine(const std::string& device);

// The open device went away for good: a USB adapter pulled, a cable cut, the far end
// of a pseudo-terminal closed. A read that finds nothing or a write that must wait is
// no loss; only the driver decides what is.
//
// The loss is said once in the debug log and the port box empties. The port is given
// back to the driver at once and quietly (the driver has closed it already and would
// only repeat its loss code), so that "Configure COM port" and "Initialize" open the
// device afresh once it is back, and nothing of the lost port is left to report. A
// run that is on keeps its ticks, so that the engine can end it; with no run on, the
// ticks stop, as they do whenever the port closes.
class DeviceLoss {
public:
    DeviceLoss(ProgramState& state, WindowModel& window, MessageLogs& logs, SerialDriver& driver)
        : m_state(state), m_window(window), m_logs(logs), m_driver(driver) {}

    // Takes in a loss the driver reported. Does nothing, and returns false, unless the
    // port is open and the driver says its device is gone.
    bool portLost();

private:
    std::string lostDevice() const;

    ProgramState& m_state;
    WindowModel& m_window;
    MessageLogs& m_logs;
    SerialDriver& m_driver;
};

}  // namespace reburn3
