// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QPointer>
#include <functional>

#include "base/desktop.h"

class QFileDialog;
class QWidget;

namespace reburn3 {

class MainWindow;
class PortDialogWidget;

// Applies the settings "Select Input File" makes to a file-open dialog: one filter,
// the initial name, the default suffix and the starting folder; one existing file.
void configureFileDialog(QFileDialog& dialog, const FileDialogSettings& settings);
// Sizes the dialog so that the name, size, type and date of a file show whole.
void showColumnsWhole(QFileDialog& dialog);

// The desktop services on Qt Widgets: the file-open dialog, the two windows the core
// shows and hides, the message box and the end of the process.
class QtDesktop final : public Desktop {
public:
    // What ending the process does once the windows are gone: by default it leaves the
    // event loop, so that main returns at once.
    using EndAction = std::function<void()>;

    QtDesktop();

    void attach(MainWindow* mainWindow, PortDialogWidget* portDialog);
    void setEndAction(EndAction action) { m_endAction = std::move(action); }

    std::optional<std::string> runOpenFileDialog(const FileDialogSettings& settings) override;
    void showMainWindow() override;
    void showPortDialog() override;
    void hidePortDialog() override;
    void selectPortOption(int index) override;
    void showMessageBox(const std::string& text) override;
    bool askYesNo(const std::string& text) override;
    void endProcess() override;
    std::string currentDirectory() const override;

    bool ended() const { return m_ended; }

private:
    QPointer<MainWindow> m_main;
    QPointer<PortDialogWidget> m_port;
    int m_pendingOption = 0;
    EndAction m_endAction;
    bool m_ended = false;
};

}  // namespace reburn3
