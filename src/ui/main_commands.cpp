// SPDX-License-Identifier: Apache-2.0
#include "ui/main_commands.h"

#include "base/messages.h"

namespace reburn3 {

namespace {
constexpr std::int32_t kHideReadOnlyChoice = 4;
constexpr std::int16_t kFirstFilter = 1;
}  // namespace

FileDialogSettings MainCommands::dialogSettings() const {
    FileDialogSettings settings;
    settings.cancelIsError = true;
    settings.initialName = text::kScriptInitialName;
    settings.filterName = text::kScriptFilterName;
    settings.filterPattern = text::kScriptFilterPattern;
    settings.defaultExt = text::kScriptDefaultExt;
    settings.flags = kHideReadOnlyChoice;
    settings.filterIndex = kFirstFilter;
    settings.initialDir = m_desktop.currentDirectory();
    return settings;
}

// Chooses, opens and measures the script. Whatever happened before a failure stays
// done: after a cancel no script is selected, even if one was before.
void MainCommands::SelectInputFile_Click() {
    m_stream.close();
    m_window.setText(TextBoxId::Text1, "");
    m_state.FileName.clear();
    m_state.FileMode = 0;
    const std::optional<std::string> chosen = m_desktop.runOpenFileDialog(dialogSettings());
    if (!chosen) {
        m_logs.status(std::string(text::kSelectionCancelled));
        return;
    }
    m_state.FileName = *chosen;
    if (m_state.FileName.empty()) {
        m_logs.status(std::string(text::kNoInputFileSelected));
        return;
    }
    if (!m_stream.open(m_state.FileName)) {
        m_logs.status(std::string(text::kSelectionCancelled));
        return;
    }
    m_window.setText(TextBoxId::Text1, m_state.FileName);
    m_state.FileMode = 1;
    // A script with faults stays selected, its faults in the debug log, so that the
    // operator can mend the file and press "Program FLASH" again: the run start
    // checks it once more.
    m_reader.CountRecords();
}

// The program's only way to end. It refuses while a tick or a transmission is in
// progress, and stops the timer so that the next try finds both finished.
void MainCommands::AbortProgram_Click() {
    if (isSet(m_state.IsrActive)) {
        m_logs.status(std::string(text::kIsrActiveExit));
        m_window.setTimerEnabled(false);
        return;
    }
    if (isSet(m_state.PortBusy)) {
        m_logs.status(std::string(text::kPortInUseExit));
        m_window.setTimerEnabled(false);
        return;
    }
    m_state.ProgramMode = 0;
    if (m_state.FileMode != 0) {
        m_stream.close();
        m_logs.status(std::string(text::kInputFileClosed));
    }
    if (isSet(m_state.PortOpen)) {
        m_window.setTimerEnabled(false);
        m_link.ClosePort();
    }
    m_logs.status(std::string(text::kProgramTerminated));
    m_desktop.endProcess();
}

}  // namespace reburn3
