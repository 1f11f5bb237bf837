// SPDX-License-Identifier: Apache-2.0
#include "app/form1.h"

#include "ui/messages.h"

namespace reburn3 {

Form1::Form1(SerialDriver& driver, Desktop& desktop, Clock& clock)
    : m_desktop(desktop),
      m_logs(S, m_window),
      m_link(S, m_window, m_logs, driver),
      m_reader(S, m_window, m_logs, clock, m_script),
      m_engine(S, m_window, m_logs, m_link, m_reader, m_script, clock),
      m_commands(S, m_window, m_logs, desktop, m_script, m_reader, m_link),
      m_portDialog(S, m_window, m_logs, desktop, m_link),
      m_loss(S, m_window, m_logs, driver) {}

// With no run on, the close command is "Exit / Abort". During a run it asks first, No
// being the answer that keeps the run: Yes aborts the run as "Abort Process" does, so
// that its closing lines are posted, and then leaves as "Exit / Abort", which closes
// the script and the port.
void Form1::closeRequested() {
    if (S.ProgramMode != 0) {
        if (!m_desktop.askYesNo(std::string(text::kAbortAndExitQuestion))) {
            return;
        }
        // The run may have ended by itself while the question was open.
        if (S.ProgramMode != 0) {
            ProgramFlash_Click();
        }
    }
    AbortProgram_Click();
}

}  // namespace reburn3
