// Renders the desktop windows to PNG files for the documentation: the main window in
// the middle of a download against the simulated device, the port dialog and the
// About box.
//
//   gui_screenshots SIM_PROGRAM SCRIPT OUTPUT_DIR
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <cstdio>

#include "gui/about_box.h"
#include "gui/app_icon.h"
#include "gui/gui_session.h"
#include "gui/main_window.h"
#include "gui/port_dialog_widget.h"
#include "serial/qt_serial_driver.h"

namespace {

bool save(QWidget& widget, const QString& path) {
    const bool ok = widget.grab().save(path);
    std::fprintf(stderr, "%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const QStringList args = QApplication::arguments();
    if (args.size() != 4) {
        std::fprintf(stderr, "usage: gui_screenshots SIM_PROGRAM SCRIPT OUTPUT_DIR\n");
        return 2;
    }
    const QString script = QFileInfo(args[2]).absoluteFilePath();
    const QDir out(args[3]);

    // The simulated device, a little slow to answer so that the run can be caught
    // half way.
    QProcess sim;
    sim.setProgram(args[1]);
    sim.setArguments({script, QStringLiteral("--late"), QStringLiteral("2")});
    sim.start();
    if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000)) {
        std::fprintf(stderr, "the simulated device did not start\n");
        return 1;
    }
    qputenv("ORX716_COM6", sim.readLine().trimmed());

    reburn3::QtSerialDriver driver;
    reburn3::GuiSession session(driver);
    session.desktop().setEndAction([] {});
    session.start("");
    reburn3::MainWindow& win = session.mainWindow();
    reburn3::PortDialogWidget& dialog = session.portDialog();
    QTest::qWait(50);

    // The port dialog as the operator first sees it.
    win.button(reburn3::ButtonId::ConfigComPort)->click();
    QTest::qWait(50);
    bool ok = save(dialog, out.filePath(QStringLiteral("port_dialog.png")));
    dialog.ComxBtn(6)->click();
    dialog.initializeButton()->click();

    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&poll, &script] {
        if (auto* files = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            poll.stop();
            files->selectFile(script);
            static_cast<QDialog*>(files)->accept();
        }
    });
    poll.start();
    win.button(reburn3::ButtonId::SelectInputFile)->click();

    win.button(reburn3::ButtonId::ProgramFlash)->click();
    const bool halfWay = QTest::qWaitFor(
        [&] {
            return session.form().state().RecordsDone * 5 >=
                   session.form().state().RecordsTotal * 2;
        },
        60000);
    ok = halfWay && save(win, out.filePath(QStringLiteral("main_window.png"))) && ok;

    // Abort the run in an orderly way, then the About box.
    win.button(reburn3::ButtonId::ProgramFlash)->click();
    (void)QTest::qWaitFor([&] { return session.form().state().ProgramMode == 0; }, 10000);
    win.aboutAction()->trigger();
    QTest::qWait(50);
    if (reburn3::AboutBox* about = win.aboutBox()) {
        ok = save(*about, out.filePath(QStringLiteral("about_box.png"))) && ok;
    }

    // The application icon at the sizes the windows use.
    for (const int size : {16, 32}) {
        const QString name = QStringLiteral("icon_%1.png").arg(size);
        ok = reburn3::appIconPixmap(size).save(out.filePath(name)) && ok;
    }

    sim.kill();
    sim.waitForFinished(5000);
    return ok ? 0 : 1;
}
