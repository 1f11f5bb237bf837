// SPDX-License-Identifier: Apache-2.0
#include "run/run_desktop.h"

#include <QDir>

namespace reburn3::run {

std::optional<std::string> RunDesktop::runOpenFileDialog(const FileDialogSettings& /*settings*/) {
    return m_script;
}

void RunDesktop::showMessageBox(const std::string& text) {
    if (m_messageSink) {
        m_messageSink(text);
    }
}

std::string RunDesktop::currentDirectory() const {
    return QDir::currentPath().toStdString();
}

}  // namespace reburn3::run
