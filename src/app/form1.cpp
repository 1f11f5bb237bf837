// SPDX-License-Identifier: Apache-2.0
#include "app/form1.h"

#include "base/messages.h"

namespace reburn3 {

Form1::Form1(SerialDriver& driver, Desktop& desktop, Clock& clock)
    : m_desktop(desktop),
      m_logs(m_state, m_window),
      m_link(m_state, m_window, m_logs, driver),
      m_reader(m_state, m_window, m_logs, clock, m_script),
      m_engine(m_state, m_window, m_logs, m_link, m_reader, m_script, clock),
      m_commands(m_state, m_window, m_logs, desktop, m_script, m_reader, m_link),
      m_portDialog(m_state, m_window, m_logs, desktop, m_link),
      m_loss(m_state, m_window, m_logs, driver) {}

// With no run on, the close command is "Exit / Abort". During a run it asks first, No
// being the answer that keeps the run: Yes aborts the run as "Abort Process" does, so
// that its closing lines are posted, and then leaves as "Exit / Abort", which closes
// the script and the port.
void Form1::closeRequested() {
    if (m_state.ProgramMode != 0) {
        if (!m_desktop.askYesNo(std::string(text::kAbortAndExitQuestion))) {
            return;
        }
        // The run may have ended by itself while the question was open.
        if (m_state.ProgramMode != 0) {
            ProgramFlash_Click();
        }
    }
    AbortProgram_Click();
}

}  // namespace reburn3
