// SPDX-License-Identifier: Apache-2.0
#include "app/startup.h"

#include "base/messages.h"

namespace reburn3 {

// Everything up to and including the first "." of the file name, then "PF3"; whatever
// followed that "." (extension, further arguments, a closing quote) is dropped. The
// file name is what follows the text's last "/" or "\\" (the whole text without one): a
// "." in a folder name ("fw-2.1/tiny.pf3", "C:\\rel2.5\\image.pf3", ".\\image.pf3") is
// not the extension's. The text is taken as one string: no splitting, no quote removal.
std::string DeriveScriptName(std::string_view commandLine) {
    const std::size_t separator = commandLine.find_last_of("/\\");
    const std::size_t nameStart = separator == std::string_view::npos ? 0 : separator + 1;
    const std::size_t dot = commandLine.find('.', nameStart);
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
