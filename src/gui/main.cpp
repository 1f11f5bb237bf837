// SPDX-License-Identifier: Apache-2.0
// reburn3-gui: downloads firmware into an ORX-716 over a serial port, on the desktop.
#include <QApplication>
#include <QtGlobal>

#include <cstdio>
#include <string>
#include <string_view>

#include "adapters/qt_serial_driver.h"
#include "base/messages.h"
#include "base/version.h"
#include "gui/app_icon.h"
#include "gui/display_setup.h"
#include "gui/gui_session.h"
#include "gui/gui_texts.h"

namespace {

// --help and --version, when they are the whole argument text, print and end the program
// before any window (or display) is needed. Anything else is the script name.
bool answeredInformationRequest(int argc, char** argv) {
    if (argc != 2) {
        return false;
    }
    const std::string_view word = argv[1];
    if (word == "--help" || word == "-h") {
        std::fwrite(reburn3::text::gui::kCommandLineHelp.data(), 1,
                    reburn3::text::gui::kCommandLineHelp.size(), stdout);
        return true;
    }
    if (word == "--version" || word == "-V") {
        std::printf("%s\n", reburn3::versionLine("reburn3-gui", qVersion()).c_str());
        return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (answeredInformationRequest(argc, argv)) {
        return 0;
    }
    reburn3::prepareDisplayConnection();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(
        reburn3::text::kAppTitle.data(), static_cast<qsizetype>(reburn3::text::kAppTitle.size())));
    QApplication::setApplicationVersion(
        QString::fromUtf8(reburn3::programVersion().data(),
                          static_cast<qsizetype>(reburn3::programVersion().size())));
    QApplication::setWindowIcon(reburn3::appIcon());
    // Only "Exit / Abort" ends the program; closing windows does not.
    QApplication::setQuitOnLastWindowClosed(false);

    reburn3::QtSerialDriver driver;
    reburn3::GuiSession session(driver);
    session.start(reburn3::argumentText(QApplication::arguments()).toStdString());
    return QApplication::exec();
}
