// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "base/desktop.h"

namespace reburn3::run {

// The desktop as a run without a window sees it: the file dialog "chooses" the script
// named on the command line, the windows are not there, a message box is handed to the
// run's listener, and ending the process is only noted, so that the command decides when
// and with which code to exit.
class RunDesktop final : public Desktop {
public:
    explicit RunDesktop(std::string script) : m_script(std::move(script)) {}

    std::optional<std::string> runOpenFileDialog(const FileDialogSettings& settings) override;
    void showMainWindow() override {}
    void showPortDialog() override {}
    void hidePortDialog() override {}
    void selectPortOption(int /*index*/) override {}
    void showMessageBox(const std::string& text) override;
    void endProcess() override { m_endRequested = true; }
    std::string currentDirectory() const override;

    bool endRequested() const { return m_endRequested; }
    // Where a message box's text goes.
    void setMessageSink(std::function<void(const std::string&)> sink) {
        m_messageSink = std::move(sink);
    }

private:
    std::string m_script;
    std::function<void(const std::string&)> m_messageSink;
    bool m_endRequested = false;
};

}  // namespace reburn3::run
