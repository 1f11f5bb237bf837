// SPDX-License-Identifier: Apache-2.0
#include "app/startup.h"

#include "base/messages.h"

namespace reburn3 {

// Everything up to and including the first "." of the whole argument text, then
// "PF3"; whatever followed the "." (extension, further arguments, a closing quote)
// is dropped. The text is taken as one string: no splitting, no quote removal.
std::string DeriveScriptName(std::string_view commandLine) {
    const std::size_t dot = commandLine.find('.');
    if (dot == std::string_view::npos) {
        return {};
    }
    return std::string(commandLine.substr(0, dot + 1)) + std::string(text::kCommandLineExtension);
}

void MainStartUp(Form1& form, std::string_view commandLine) {
    ProgramState& m_state = form.state();
    WindowModel& W = form.window();
    form.InitVariables();
    W.setTimerEnabled(false);
    W.setTimerInterval(WindowModel::kTimerInterval);
    m_state.CommandLine = commandLine;
    m_state.FileName = DeriveScriptName(m_state.CommandLine);
    if (!m_state.FileName.empty()) {
        m_state.FileMode = 1;
    }
    W.setText(TextBoxId::Text1,
              m_state.FileName.empty() ? std::string(text::kNoFileSelected) : m_state.FileName);
    form.desktop().showMainWindow();
}

}  // namespace reburn3
