// SPDX-License-Identifier: Apache-2.0
// Renders the desktop windows to PNG files for the documentation: the main window in
// the middle of a download against the simulated device, the question the close box
// asks during it, the port dialog and the About box.
//
//   gui_screenshots SIM_PROGRAM SCRIPT OUTPUT_DIR
//
// On an X display with a window manager (the xcb platform, as scripts/screenshots.sh
// runs it) each picture is the window as the display shows it, title bar and frame
// included, read back from the screen; xwininfo and xprop (x11-utils) tell where the
// frame lies. Under any other platform (offscreen) only the window's contents are
// drawn.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <cstdio>

#include "adapters/qt_serial_driver.h"
#include "gui/about_box.h"
#include "gui/app_icon.h"
#include "gui/gui_session.h"
#include "gui/main_window.h"
#include "gui/port_dialog_widget.h"

namespace {

bool onX11() {
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

QString runTool(const QString& program, const QStringList& arguments) {
    QProcess tool;
    tool.start(program, arguments);
    if (!tool.waitForFinished(5000) || tool.exitCode() != 0) {
        return {};
    }
    return QString::fromLocal8Bit(tool.readAllStandardOutput());
}

// Where the window manager's frame around a window lies on the screen, asked of the
// X server itself (xwininfo and xprop): Qt learns of a frame only from a later move of
// the window, which a window that stays put never makes. Empty while the window has
// no frame.
QRect frameOnScreen(const QWidget& widget) {
    const QString id = QString::number(widget.winId());
    const QString info = runTool(QStringLiteral("xwininfo"), {QStringLiteral("-id"), id});
    const QString extents = runTool(
        QStringLiteral("xprop"), {QStringLiteral("-id"), id, QStringLiteral("_NET_FRAME_EXTENTS")});
    const auto field = [&info](const char* name) {
        const QRegularExpression pattern(QLatin1String(name) + QStringLiteral(":\\s*(-?\\d+)"));
        const QRegularExpressionMatch match = pattern.match(info);
        return match.hasMatch() ? match.captured(1).toInt() : -1;
    };
    const QRegularExpressionMatch margins =
        QRegularExpression(QStringLiteral("=\\s*(\\d+),\\s*(\\d+),\\s*(\\d+),\\s*(\\d+)"))
            .match(extents);
    const int x = field("Absolute upper-left X");
    const int y = field("Absolute upper-left Y");
    const int width = field("Width");
    const int height = field("Height");
    if (!margins.hasMatch() || x < 0 || y < 0 || width <= 0 || height <= 0) {
        return {};
    }
    // _NET_FRAME_EXTENTS: left, right, top, bottom.
    const int left = margins.captured(1).toInt();
    const int right = margins.captured(2).toInt();
    const int top = margins.captured(3).toInt();
    const int bottom = margins.captured(4).toInt();
    if (top == 0) {
        return {};
    }
    return QRect(x - left, y - top, width + left + right, height + top + bottom);
}

// Brings a window to the front with the focus, and waits until the window manager
// has framed it and drawn the frame.
void bringForward(QWidget& widget) {
    if (!onX11()) {
        return;
    }
    widget.raise();
    widget.activateWindow();
    (void)QTest::qWaitForWindowExposed(&widget, 5000);
    (void)QTest::qWaitFor(
        [&] { return widget.isActiveWindow() && !frameOnScreen(widget).isEmpty(); }, 5000);
    QTest::qWait(300);
}

// The window as the display shows it: the part of the screen under its frame.
QPixmap capture(QWidget& widget) {
    if (!onX11()) {
        return widget.grab();
    }
    // Let what is pending reach the screen before reading it back.
    widget.repaint();
    QApplication::processEvents();
    QApplication::sync();
    const QRect frame = frameOnScreen(widget);
    if (frame.isEmpty()) {
        std::fprintf(stderr, "%s has no frame: is a window manager running?\n",
                     qPrintable(widget.windowTitle()));
        return {};
    }
    QScreen* screen = widget.screen();
    return screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
}

bool save(QWidget& widget, const QString& path) {
    const QPixmap picture = capture(widget);
    const bool ok = !picture.isNull() && picture.save(path);
    std::fprintf(stderr, "%s %s (%dx%d)\n", ok ? "wrote" : "could not write", qPrintable(path),
                 picture.width(), picture.height());
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // Qt's own file dialog, which the program below knows how to answer, whatever
    // desktop the display belongs to.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
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
    bringForward(win);

    // The port dialog as the operator first sees it.
    win.button(reburn3::ButtonId::ConfigComPort)->click();
    QTest::qWait(50);
    bringForward(dialog);
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
    bringForward(win);

    win.button(reburn3::ButtonId::ProgramFlash)->click();
    const bool halfWay = QTest::qWaitFor(
        [&] {
            return session.form().state().RecordsDone * 5 >=
                   session.form().state().RecordsTotal * 2;
        },
        60000);
    ok = halfWay && save(win, out.filePath(QStringLiteral("main_window.png"))) && ok;

    // The close box during the run asks first; the picture is taken, then No keeps
    // the run.
    QTimer question;
    question.setInterval(10);
    QObject::connect(&question, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            question.stop();
            bringForward(*box);
            ok = save(*box, out.filePath(QStringLiteral("close_during_run.png"))) && ok;
            box->button(QMessageBox::No)->click();
        }
    });
    question.start();
    win.close();

    // Abort the run in an orderly way, then the About box.
    win.button(reburn3::ButtonId::ProgramFlash)->click();
    (void)QTest::qWaitFor([&] { return session.form().state().ProgramMode == 0; }, 10000);
    win.aboutAction()->trigger();
    QTest::qWait(50);
    if (reburn3::AboutBox* about = win.aboutBox()) {
        bringForward(*about);
        ok = save(*about, out.filePath(QStringLiteral("about_box.png"))) && ok;
    } else {
        std::fprintf(stderr, "the About box did not open\n");
        ok = false;
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
