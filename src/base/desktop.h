// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace reburn3 {

// What "Select Input File" asks of the file-open dialog each time before it opens.
struct FileDialogSettings {
    bool cancelIsError = false;    // a cancellation comes back as a failure (nullopt)
    std::string initialName;       // "*.pf3"
    std::string filterName;        // "PF3 Files (*.pf3)"
    std::string filterPattern;     // "*.pf3"
    std::string defaultExt;        // "pf3"
    std::int32_t flags = 0;        // 4: the dialog offers no read-only choice
    std::int16_t filterIndex = 0;  // 1: the first (only) filter entry is the one in force
    std::string initialDir;        // the process's current directory
};

// The windowing services the core uses besides the main window's own model:
// dialogs, the message box and the end of the process.
class Desktop {
public:
    virtual ~Desktop() = default;

    // Runs the modal file-open dialog. Returns the chosen path (empty when nothing
    // was chosen), or nullopt when the operator cancelled and cancelIsError is set.
    virtual std::optional<std::string> runOpenFileDialog(const FileDialogSettings& settings) = 0;

    virtual void showMainWindow() = 0;
    virtual void showPortDialog() = 0;
    virtual void hidePortDialog() = 0;
    // Selects the port dialog's option button of this index (1 to 8) by program.
    virtual void selectPortOption(int index) = 0;
    virtual void showMessageBox(const std::string& text) = 0;
    // Asks a question with the answers Yes and No, No being the default; true for Yes.
    // A desktop that cannot ask answers No.
    virtual bool askYesNo(const std::string& /*text*/) { return false; }
    // Ends the process at once; no handler runs after it.
    virtual void endProcess() = 0;
    virtual std::string currentDirectory() const = 0;
};

}  // namespace reburn3
