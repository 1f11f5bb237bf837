// SPDX-License-Identifier: Apache-2.0
// The window under a real X server with a window manager (scripts/with_x.sh), driven
// through the X server itself as an operator would: xdotool moves the pointer, clicks
// and types, the window manager frames the windows and turns Alt+F4 into a close
// request, and the simulated ORX-716 answers on a pseudo-terminal mapped onto COM6.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iostream>
#include <memory>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

#include "adapters/qt_serial_driver.h"
#include "base/messages.h"
#include "gui/about_box.h"
#include "gui/fixed_layout.h"
#include "gui/gui_session.h"
#include "gui/log_view.h"
#include "gui/main_window.h"
#include "gui/port_dialog_widget.h"
#include "serial/device_loss.h"

// Readable QStrings in test failures.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace reburn3::testing {
namespace {

QString qs(std::string_view t) {
    return QString::fromUtf8(t.data(), static_cast<qsizetype>(t.size()));
}

// What the X server holds of a widget's pixels, and what a whole repaint of it draws.
QImage onTheServer(QWidget& widget) {
    QWidget& window = *widget.window();
    const QPoint at = widget.mapTo(&window, QPoint(0, 0));
    return QGuiApplication::primaryScreen()
        ->grabWindow(window.winId(), at.x(), at.y(), widget.width(), widget.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}
QImage repainted(QWidget& widget) {
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// One xdotool command; false when it failed.
bool xdotool(const QStringList& arguments) {
    return QProcess::execute(QStringLiteral("xdotool"), arguments) == 0;
}

// Clicks `times` with `button` (1 left, 3 right) at a point of a widget, through the
// X server; the second click of two comes 60 ms after the first, a double-click.
void clickAt(QWidget* widget, QPoint local, int times = 1, int button = 1) {
    const QPoint global = widget->mapToGlobal(local);
    ASSERT_TRUE(
        xdotool({"mousemove", "--sync", QString::number(global.x()), QString::number(global.y())}));
    ASSERT_TRUE(xdotool(
        {"click", "--repeat", QString::number(times), "--delay", "60", QString::number(button)}));
    QTest::qWait(100);
}

void clickOn(QWidget* widget, int times = 1) {
    clickAt(widget, widget->rect().center(), times);
}

// Types keys (xdotool key names) into whatever window has the focus.
void typeKeys(const QStringList& keys) {
    ASSERT_TRUE(xdotool(QStringList{"key", "--delay", "40"} + keys));
    QTest::qWait(150);
}

bool bringForward(QWidget& window) {
    window.raise();
    window.activateWindow();
    return QTest::qWaitForWindowExposed(&window, 5000) &&
           QTest::qWaitForWindowActive(&window, 5000);
}

// Runs `answer` on the next modal dialog of type T as soon as it is open and active.
template <typename T>
void whenModalOpens(std::function<void(T*)> answer) {
    auto* poll = new QTimer;
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [poll, answer] {
        if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            (void)QTest::qWaitForWindowActive(dialog, 5000);
            answer(dialog);
        }
    });
    poll->start();
}

class RealXTest : public ::testing::Test {
protected:
    RealXTest() {
        session.desktop().setEndAction([this] { ++ended; });
    }
    ~RealXTest() override {
        qunsetenv("ORX716_COM6");
        for (auto& sim : sims) {
            if (sim->state() != QProcess::NotRunning) {
                sim->kill();
                sim->waitForFinished(5000);
            }
        }
    }

    // Starts a simulated device on `script` and maps COM6 onto it.
    QProcess* startDevice(const QStringList& options = {}) {
        sims.push_back(std::make_unique<QProcess>());
        QProcess* sim = sims.back().get();
        sim->setProgram(QStringLiteral(REBURN3_SIM_PATH));
        sim->setArguments(QStringList{script} + options);
        sim->start();
        if (!sim->waitForStarted(5000) || !sim->waitForReadyRead(5000)) {
            return nullptr;
        }
        devicePath = QString::fromLocal8Bit(sim->readLine().trimmed());
        qputenv("ORX716_COM6", devicePath.toLocal8Bit());
        return sim;
    }

    void startWindow() {
        session.start("");
        ASSERT_TRUE(bringForward(win()));
        whenModalOpens<QFileDialog>([this](QFileDialog* files) {
            files->selectFile(script);
            static_cast<QDialog*>(files)->accept();
        });
        clickOn(win().button(ButtonId::SelectInputFile));
        ASSERT_TRUE(QTest::qWaitFor([&] { return form().state().FileMode == 1; }, 5000));
    }

    // "Configure COM port", COM6, "Initialize", by mouse.
    void openPortByMouse() {
        clickOn(win().button(ButtonId::ConfigComPort));
        ASSERT_TRUE(bringForward(dialog()));
        clickAt(dialog().ComxBtn(6), QPoint(8, dialog().ComxBtn(6)->height() / 2));
        clickOn(dialog().initializeButton());
        ASSERT_EQ(win().textBox(TextBoxId::Text2)->text(), "COM6: at max rate");
    }

    bool waitForRunEnd(int ms = 60000) {
        return QTest::qWaitFor(
            [&] {
                return form().state().ProgramMode == 0 &&
                       form().engine().outcome() != RunOutcome::Running;
            },
            ms);
    }

    std::vector<QString> rows(LogId id) {
        std::vector<QString> out;
        LogView* view = win().logView(id);
        for (int i = 0; i < view->rowCount(); ++i) {
            out.push_back(view->rowText(i));
        }
        return out;
    }
    int countRows(LogId id, const QString& line) {
        const auto all = rows(id);
        return static_cast<int>(std::count(all.begin(), all.end(), line));
    }

    Form1& form() { return session.form(); }
    MainWindow& win() { return session.mainWindow(); }
    PortDialogWidget& dialog() { return session.portDialog(); }

    QString script = QStringLiteral(REBURN3_EXAMPLES_DIR "/orx716_demo.pf3");
    QString devicePath;
    std::vector<std::unique_ptr<QProcess>> sims;
    QtSerialDriver driver;
    GuiSession session{driver};
    int ended = 0;
};

// The port dialog chosen by keyboard, a double-click on "Program FLASH", and the close
// box during the run: No keeps it, Yes aborts it cleanly and exits.
TEST_F(RealXTest, KeyboardPortDialogDoubleClickAndTheCloseBoxDuringARun) {
    ASSERT_NE(startDevice({"--late", "3"}), nullptr);
    startWindow();

    // The focus frame shows from the start.
    EXPECT_TRUE(win().testAttribute(Qt::WA_KeyboardFocusChange));
    EXPECT_TRUE(win().button(ButtonId::SelectInputFile)->hasFocus());

    clickOn(win().button(ButtonId::ConfigComPort));
    ASSERT_TRUE(bringForward(dialog()));
    dialog().initializeButton()->setFocus();
    // COM6 is checked: Tab passes COM1 to COM4, stops at Cancel, then at COM6.
    typeKeys({"Tab"});
    EXPECT_EQ(QApplication::focusWidget(), dialog().cancelButton());
    typeKeys({"Tab"});
    EXPECT_EQ(QApplication::focusWidget(), dialog().ComxBtn(6));
    // The arrows move the check with the focus; Enter presses "Initialize".
    typeKeys({"Up", "Up"});
    EXPECT_EQ(QApplication::focusWidget(), dialog().ComxBtn(4));
    EXPECT_TRUE(dialog().ComxBtn(4)->isChecked());
    EXPECT_EQ(form().state().ComPort, 4);
    typeKeys({"Down", "Down"});
    EXPECT_TRUE(dialog().ComxBtn(6)->isChecked());
    typeKeys({"Return"});
    EXPECT_FALSE(dialog().isVisible());
    ASSERT_EQ(win().textBox(TextBoxId::Text2)->text(), "COM6: at max rate");

    // A double-click starts the run and does not abort it.
    ASSERT_TRUE(bringForward(win()));
    clickOn(win().button(ButtonId::ProgramFlash), 2);
    QTest::qWait(600);
    EXPECT_EQ(form().engine().outcome(), RunOutcome::Running);
    EXPECT_EQ(win().button(ButtonId::ProgramFlash)->text(), qs(text::kAbortProcess));
    ASSERT_TRUE(QTest::qWaitFor([&] { return form().state().RecordsDone > 20; }, 20000));

    // Alt+F4 asks; Enter takes the default, No, and the run goes on.
    QString asked;
    QMessageBox::StandardButton defaultAnswer = QMessageBox::NoButton;
    whenModalOpens<QMessageBox>([&](QMessageBox* box) {
        asked = box->text();
        defaultAnswer = box->standardButton(box->defaultButton());
        typeKeys({"Return"});
    });
    typeKeys({"alt+F4"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !asked.isEmpty(); }, 5000));
    QTest::qWait(300);
    EXPECT_EQ(asked, qs(text::kAbortAndExitQuestion));
    EXPECT_EQ(defaultAnswer, QMessageBox::No);
    EXPECT_EQ(ended, 0);
    EXPECT_EQ(form().engine().outcome(), RunOutcome::Running);
    EXPECT_TRUE(win().isVisible());

    // The close box again; Yes aborts the run with its closing lines, then exits.
    ASSERT_TRUE(bringForward(win()));
    bool answered = false;
    whenModalOpens<QMessageBox>([&](QMessageBox* box) {
        clickOn(box->button(QMessageBox::Yes));
        answered = true;
    });
    typeKeys({"alt+F4"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return answered && ended == 1; }, 5000));
    EXPECT_EQ(form().engine().outcome(), RunOutcome::Aborted);
    const std::vector<QString> status = rows(LogId::Status);
    ASSERT_GE(status.size(), 9U);
    const std::vector<QString> tail(status.end() - 9, status.end());
    EXPECT_EQ(tail,
              (std::vector<QString>{qs(text::kClosing1), qs(text::kClosing2), qs(text::kClosing3),
                                    qs(text::kClosingBlank), qs(text::kClosing5),
                                    qs(text::kClosingBlank), qs(text::kInputFileClosed),
                                    qs(text::kPortClosed) + "6", qs(text::kProgramTerminated)}));
    EXPECT_FALSE(win().isVisible());
}

// The cable pulled mid-run: the window names the loss once and empties the port box;
// "Configure COM port" and "Initialize" open the device again once it is back, and the
// next download completes. Then the loss line is copied from the debug log.
TEST_F(RealXTest, AnUnplugMidRunThenReinitialiseCompleteAndCopyFromTheLog) {
    ASSERT_NE(startDevice({"--unplug-at", "40"}), nullptr);
    const QString lost = QString::fromStdString(deviceLossLine(devicePath.toStdString()));
    startWindow();
    openPortByMouse();
    ASSERT_TRUE(bringForward(win()));
    clickOn(win().button(ButtonId::ProgramFlash));
    ASSERT_TRUE(QTest::qWaitFor([&] { return countRows(LogId::Debug, lost) > 0; }, 20000));
    ASSERT_TRUE(waitForRunEnd(20000));
    EXPECT_EQ(form().engine().outcome(), RunOutcome::DeviceLost);
    EXPECT_EQ(countRows(LogId::Debug, lost), 1);
    EXPECT_TRUE(win().textBox(TextBoxId::Text2)->text().isEmpty());
    EXPECT_EQ(countRows(LogId::Status, qs(text::kProcessingComplete)), 0);

    // The device is back (a new simulator, on a new pseudo-terminal behind COM6).
    QProcess* back = startDevice();
    ASSERT_NE(back, nullptr);
    const std::size_t debugBefore = rows(LogId::Debug).size();
    openPortByMouse();
    EXPECT_EQ(rows(LogId::Debug).size(), debugBefore) << "no stale error on reopening";
    clickOn(win().button(ButtonId::ProgramFlash));
    ASSERT_TRUE(waitForRunEnd());
    EXPECT_EQ(form().engine().outcome(), RunOutcome::Completed);
    EXPECT_EQ(rows(LogId::Status).back(), qs(text::kProcessingComplete));
    // After a download's posts, each moving only part of the rows on the server, the
    // status log and the counts on the X server are what a whole repaint draws.
    QTest::qWait(100);
    EXPECT_EQ(onTheServer(*win().logView(LogId::Status)->viewport()),
              repainted(*win().logView(LogId::Status)->viewport()));
    for (const auto box : {TextBoxId::Text3, TextBoxId::Text4, TextBoxId::Text5}) {
        EXPECT_EQ(onTheServer(*win().textBox(box)), repainted(*win().textBox(box)));
    }
    EXPECT_TRUE(back->state() == QProcess::NotRunning || back->waitForFinished(10000));
    EXPECT_EQ(back->exitCode(), 0);

    // Copy: click the loss line in the debug log, Ctrl+C.
    LogView* debug = win().logView(LogId::Debug);
    const std::vector<QString> debugRows = rows(LogId::Debug);
    const int row =
        static_cast<int>(std::find(debugRows.begin(), debugRows.end(), lost) - debugRows.begin());
    debug->verticalScrollBar()->setValue(row);
    QTest::qWait(50);
    clickAt(debug->viewport(), QPoint(20, (row - debug->firstVisibleRow()) * debug->rowHeight() +
                                              debug->rowHeight() / 2));
    typeKeys({"ctrl+c"});
    EXPECT_EQ(QGuiApplication::clipboard()->text(), lost);

    // "Copy All" from the status log's context menu.
    LogView* status = win().logView(LogId::Status);
    clickAt(status->viewport(), QPoint(40, 10), 1, 3);
    ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activePopupWidget() != nullptr; }, 5000));
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    QAction* copyAll = menu->findChild<QAction*>(QStringLiteral("copyAll"));
    ASSERT_NE(copyAll, nullptr);
    clickAt(menu, menu->actionGeometry(copyAll).center());
    EXPECT_EQ(QGuiApplication::clipboard()->text(), status->allText());
    EXPECT_TRUE(status->allText().endsWith(qs(text::kProcessingComplete)));
}

// Every caption whole in all three windows, at the font DPI this run was given
// (QT_FONT_DPI, scaling off), with the windows framed on a real screen.
TEST_F(RealXTest, FontsLeaveNoCaptionClipped) {
    session.start("");
    ASSERT_TRUE(bringForward(win()));
    form().window().setCaption(ButtonId::ProgramFlash, std::string(text::kAbortProcess));
    clickOn(win().button(ButtonId::ConfigComPort));
    ASSERT_TRUE(bringForward(dialog()));
    win().aboutAction()->trigger();
    ASSERT_NE(win().aboutBox(), nullptr);
    ASSERT_TRUE(bringForward(*win().aboutBox()));
    std::vector<QString> clipped;
    for (QWidget* window : {static_cast<QWidget*>(&win()), static_cast<QWidget*>(&dialog()),
                            static_cast<QWidget*>(win().aboutBox())}) {
        for (QWidget* w : window->findChildren<QWidget*>()) {
            if (!w->objectName().isEmpty() && w->isVisible() && !captionFits(*w)) {
                clipped.push_back(window->objectName() + "/" + w->objectName());
            }
        }
        // The window stays whole on the screen.
        EXPECT_TRUE(window->screen()->geometry().contains(window->frameGeometry()))
            << window->objectName().toStdString();
    }
    std::cout << "[ report   ] font DPI " << win().logicalDpiY() << ": layout scaled by "
              << win().layoutScale() << " (main window), " << dialog().layoutScale()
              << " (port dialog)\n";
    EXPECT_EQ(clipped, std::vector<QString>{});
}

}  // namespace
}  // namespace reburn3::testing
