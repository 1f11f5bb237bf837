// SPDX-License-Identifier: Apache-2.0
#include "cli/console_desktop.h"

#include <QDir>

#include <cstdio>

namespace reburn3::cli {

std::optional<std::string> ConsoleDesktop::runOpenFileDialog(
    const FileDialogSettings& /*settings*/) {
    return m_script;
}

void ConsoleDesktop::showMessageBox(const std::string& text) {
    if (m_beforeMessage) {
        m_beforeMessage();
    }
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

std::string ConsoleDesktop::currentDirectory() const {
    return QDir::currentPath().toStdString();
}

}  // namespace reburn3::cli
