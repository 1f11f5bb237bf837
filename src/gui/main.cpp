// reburn3-gui: downloads firmware into an ORX-716 over a serial port, on the desktop.
#include <QApplication>

#include "gui/app_icon.h"
#include "gui/gui_session.h"
#include "serial/qt_serial_driver.h"
#include "ui/messages.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(
        reburn3::text::kAppTitle.data(), static_cast<qsizetype>(reburn3::text::kAppTitle.size())));
    QApplication::setApplicationVersion(QStringLiteral("1.0.0"));
    QApplication::setWindowIcon(reburn3::appIcon());
    // Only "Exit / Abort" ends the program; closing windows does not.
    QApplication::setQuitOnLastWindowClosed(false);

    reburn3::QtSerialDriver driver;
    reburn3::GuiSession session(driver);
    session.start(reburn3::argumentText(QApplication::arguments()).toStdString());
    return QApplication::exec();
}
