#include "app/form1.h"

namespace reburn3 {

Form1::Form1(SerialDriver& driver, Desktop& desktop, Clock& clock)
    : m_desktop(desktop),
      m_logs(S, m_window),
      m_link(S, m_window, m_logs, driver),
      m_reader(S, m_window, m_logs, clock, m_script),
      m_engine(S, m_window, m_logs, m_link, m_reader, m_script, clock),
      m_commands(S, m_window, m_logs, desktop, m_script, m_reader, m_link),
      m_portDialog(S, m_window, m_logs, desktop, m_link) {}

}  // namespace reburn3
