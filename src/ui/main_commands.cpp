// SPDX-License-Identifier: Apache-2.0
#include "ui/main_commands.h"

#include "ui/messages.h"

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
    settings.initialDir = D.currentDirectory();
    return settings;
}

// Chooses, opens and measures the script. Whatever happened before a failure stays
// done: after a cancel no script is selected, even if one was before.
void MainCommands::SelectInputFile_Click() {
    F.close();
    W.setText(TextBoxId::Text1, "");
    S.FileName.clear();
    S.FileMode = 0;
    const std::optional<std::string> chosen = D.runOpenFileDialog(dialogSettings());
    if (!chosen) {
        L.status(std::string(text::kSelectionCancelled));
        return;
    }
    S.FileName = *chosen;
    if (S.FileName.empty()) {
        L.status(std::string(text::kNoInputFileSelected));
        return;
    }
    if (!F.open(S.FileName)) {
        L.status(std::string(text::kSelectionCancelled));
        return;
    }
    W.setText(TextBoxId::Text1, S.FileName);
    S.FileMode = 1;
    // A script with faults stays selected, its faults in the debug log, so that the
    // operator can mend the file and press "Program FLASH" again: the run start
    // checks it once more.
    R.CountRecords();
}

// The program's only way to end. It refuses while a tick or a transmission is in
// progress, and stops the timer so that the next try finds both finished.
void MainCommands::AbortProgram_Click() {
    if (isSet(S.IsrActive)) {
        L.status(std::string(text::kIsrActiveExit));
        W.setTimerEnabled(false);
        return;
    }
    if (isSet(S.PortBusy)) {
        L.status(std::string(text::kPortInUseExit));
        W.setTimerEnabled(false);
        return;
    }
    S.ProgramMode = 0;
    if (S.FileMode != 0) {
        F.close();
        L.status(std::string(text::kInputFileClosed));
    }
    if (isSet(S.PortOpen)) {
        W.setTimerEnabled(false);
        P.ClosePort();
    }
    L.status(std::string(text::kProgramTerminated));
    D.endProcess();
}

}  // namespace reburn3
