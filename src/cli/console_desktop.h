// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "base/desktop.h"

namespace reburn3::cli {

// The desktop as a command line sees it: the file dialog "chooses" the script named on
// the command line, the windows are not there, and ending the process is only noted, so
// that the command decides when and with which code to exit.
class ConsoleDesktop final : public Desktop {
public:
    explicit ConsoleDesktop(std::string script) : m_script(std::move(script)) {}

    std::optional<std::string> runOpenFileDialog(const FileDialogSettings& settings) override;
    void showMainWindow() override {}
    void showPortDialog() override {}
    void hidePortDialog() override {}
    void selectPortOption(int /*index*/) override {}
    void showMessageBox(const std::string& text) override;
    void endProcess() override { m_endRequested = true; }
    std::string currentDirectory() const override;

    bool endRequested() const { return m_endRequested; }
    // Called before a message box is written, so that lines posted before it come first.
    void setBeforeMessage(std::function<void()> before) { m_beforeMessage = std::move(before); }

private:
    std::string m_script;
    std::function<void()> m_beforeMessage;
    bool m_endRequested = false;
};

}  // namespace reburn3::cli
