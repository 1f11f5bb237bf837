// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>

#include "app/form1.h"
#include "base/clock.h"
#include "gui/qt_desktop.h"

namespace reburn3 {

class MainWindow;
class PortDialogWidget;
class QtTickTimer;
class SerialDriver;

// Describes the device behind each port number for the port dialog's tooltips.
std::function<std::string(int)> portDescriber(SerialDriver& driver);

// The command line's argument text as the program takes it: the arguments after the
// program's own name, joined by single blanks.
QString argumentText(const QStringList& arguments);

// One run of the desktop program: the main window object of the core, the two windows
// that live as long as the process (created hidden), the desktop services and the
// 5 ms tick timer.
class GuiSession {
public:
    explicit GuiSession(SerialDriver& driver);
    ~GuiSession();
    GuiSession(const GuiSession&) = delete;
    GuiSession& operator=(const GuiSession&) = delete;

    // The start-up sequence on this argument text: state reset, Timer2 set up, script
    // name taken, main window shown.
    void start(const std::string& commandLine);

    Form1& form() { return *m_form; }
    QtDesktop& desktop() { return m_desktop; }
    MainWindow& mainWindow() { return *m_main; }
    PortDialogWidget& portDialog() { return *m_port; }
    QtTickTimer& tickTimer() { return *m_timer; }

private:
    SerialDriver& m_driver;
    SystemClock m_clock;
    QtDesktop m_desktop;
    std::unique_ptr<Form1> m_form;
    std::unique_ptr<MainWindow> m_main;
    PortDialogWidget* m_port = nullptr;  // owned by the main window
    std::unique_ptr<QtTickTimer> m_timer;
};

}  // namespace reburn3
