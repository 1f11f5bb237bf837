// SPDX-License-Identifier: Apache-2.0
#include "gui/gui_session.h"

#include <QCoreApplication>

#include "adapters/qt_tick_timer.h"
#include "app/startup.h"
#include "gui/gui_texts.h"
#include "gui/main_window.h"
#include "gui/port_dialog_widget.h"
#include "serial/port_map.h"

namespace reburn3 {

QString argumentText(const QStringList& arguments) {
    return arguments.mid(1).join(QLatin1Char(' '));
}

// What an option of the port dialog stands for: the device the driver will open, and
// the environment variable that chose it, if one did.
PortDialogWidget::DeviceNamer portDescriber(SerialDriver& driver) {
    return [&driver](int port) {
        // The device the driver was pointed at for this port, else the map's.
        const std::string named = driver.assignedDevice(port);
        std::string text = named.empty() ? portDevice(port) : named;
        const std::string source = portDeviceSource(port);
        if (!source.empty() && text == portDevice(port)) {
            text += std::string(text::gui::kPortSourcePrefix) + source +
                    std::string(text::gui::kPortSourceSuffix);
        }
        return text;
    };
}

GuiSession::GuiSession(SerialDriver& driver)
    : m_driver(driver), m_form(std::make_unique<Form1>(driver, m_desktop, m_clock)) {
    // Both windows are created hidden: the main window first, then the port dialog.
    m_main = std::make_unique<MainWindow>(*m_form);
    m_port = new PortDialogWidget(*m_form, portDescriber(driver), m_main.get());
    m_desktop.attach(m_main.get(), m_port);
    m_timer = std::make_unique<QtTickTimer>(*m_form);
    // A lost device is taken in between ticks, never in the middle of one.
    m_driver.setLossListener([this] { m_form->portLost(); });
    m_desktop.setEndAction([this] {
        // No tick may follow the end, even one already due.
        m_form->window().setTimerEnabled(false);
        QCoreApplication::exit(0);
    });
}

GuiSession::~GuiSession() {
    m_driver.setLossListener({});
    m_timer.reset();
    m_main.reset();
}

void GuiSession::start(const std::string& commandLine) {
    MainStartUp(*m_form, commandLine);
}

}  // namespace reburn3
