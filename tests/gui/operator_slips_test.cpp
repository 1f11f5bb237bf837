// SPDX-License-Identifier: Apache-2.0
// The window forgives an operator's slips: the close box during a run, a double-click
// on "Program FLASH", the keyboard in both windows, long paths and long log lines, and
// copying from the logs.
#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QImage>
#include <QMenu>
#include <QMessageBox>
#include <QScrollBar>
#include <QStyleHints>
#include <QStyleOptionButton>
#include <QTreeView>

#include "base/messages.h"
#include "gui/gui_texts.h"
#include "gui/qt_desktop.h"
#include "gui_fixture.h"

namespace reburn3::testing {
namespace {

QString qs(std::string_view t) {
    return QString::fromUtf8(t.data(), static_cast<qsizetype>(t.size()));
}

// One line that sends a byte and waits for it back: with no device answering, a run
// waits in the handshake until it is aborted.
const QByteArray kScript = "T10:R10:E\r\n:";

class OperatorSlipsTest : public GuiTest {
protected:
    void startIdleRun() {
        session->start("");
        selectScript(writeScript("a.pf3", kScript));
        openPort(2);
        // Both clicks of a double-click, as the window system delivers them.
        click(button(ButtonId::ProgramFlash));
        click(button(ButtonId::ProgramFlash));
    }
    // Answers the question of the close box with the button `answer`, when it opens.
    QMessageBox::StandardButton answerClose(QMessageBox::StandardButton answer) {
        auto seenDefault = std::make_shared<QMessageBox::StandardButton>(QMessageBox::NoButton);
        whenModalOpens<QMessageBox>([answer, seenDefault, this](QMessageBox* box) {
            question = box->text();
            *seenDefault = box->standardButton(box->defaultButton());
            box->button(answer)->click();
        });
        win().close();
        return *seenDefault;
    }
    static void pressKey(QWidget* w, int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QTest::keyClick(w, static_cast<Qt::Key>(key), mods);
    }
    QString question;
};

TEST_F(OperatorSlipsTest, ADoubleClickStartsTheRunAndTheCloseBoxAsksBeforeItAborts) {
    startIdleRun();
    // The second click of the double-click did not abort the run the first one started.
    EXPECT_NE(form().state().ProgramMode, 0);
    EXPECT_EQ(button(ButtonId::ProgramFlash)->text(), qs(text::kAbortProcess));

    // No, the default, keeps the run.
    EXPECT_EQ(answerClose(QMessageBox::No), QMessageBox::No);
    EXPECT_EQ(question, qs(text::kAbortAndExitQuestion));
    EXPECT_EQ(endCount, 0);
    EXPECT_NE(form().state().ProgramMode, 0);
    EXPECT_TRUE(win().isVisible());

    // Yes aborts it with its closing lines, closes script and port, and exits.
    answerClose(QMessageBox::Yes);
    EXPECT_EQ(endCount, 1);
    EXPECT_EQ(form().engine().outcome(), RunOutcome::Aborted);
    const std::vector<QString> status = lines(LogId::Status);
    ASSERT_GE(status.size(), 9U);
    const std::vector<QString> tail(status.end() - 4, status.end());
    EXPECT_EQ(tail,
              (std::vector<QString>{"   ", qs(text::kInputFileClosed), qs(text::kPortClosed) + "2",
                                    qs(text::kProgramTerminated)}));
    EXPECT_EQ(form().state().PortOpen, kFalse);
}

TEST_F(OperatorSlipsTest, ADeliberateAbortAfterTheDoubleClickIntervalStillAborts) {
    startIdleRun();
    QTest::qWait(QGuiApplication::styleHints()->mouseDoubleClickInterval() + 30);
    click(button(ButtonId::ProgramFlash));
    EXPECT_EQ(form().state().ProgramMode, 0);
    EXPECT_EQ(form().engine().outcome(), RunOutcome::Aborted);
    // The keyboard is no mouse: Space or Enter right after the start aborts at once.
    click(button(ButtonId::ProgramFlash));
    ASSERT_NE(form().state().ProgramMode, 0);
    button(ButtonId::ProgramFlash)->setFocus();
    pressKey(button(ButtonId::ProgramFlash), Qt::Key_Return);
    EXPECT_EQ(form().state().ProgramMode, 0);
}

TEST_F(OperatorSlipsTest, EnterPressesTheFocusedButtonAndTheFocusFrameShowsFromTheStart) {
    session->start("");
    win().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&win()));
    QPushButton* first = button(ButtonId::SelectInputFile);
    EXPECT_TRUE(first->hasFocus());
    QStyleOptionButton option;
    option.initFrom(first);
    EXPECT_TRUE(option.state & QStyle::State_HasFocus);
    EXPECT_TRUE(option.state & QStyle::State_KeyboardFocusChange);

    form().PostMsg1("a line");
    button(ButtonId::ClearStatus)->setFocus();
    pressKey(button(ButtonId::ClearStatus), Qt::Key_Enter);
    EXPECT_EQ(win().logView(LogId::Status)->rowCount(), 0);
    button(ButtonId::ProgramFlash)->setFocus();
    pressKey(button(ButtonId::ProgramFlash), Qt::Key_Return);
    EXPECT_EQ(lastLine(LogId::Debug), qs(text::kSelectInputFirst));
}

TEST_F(OperatorSlipsTest, ALongScriptPathShowsItsFileNameAndTheWholePathInItsTooltip) {
    session->start("");
    const QString deep = QStringLiteral("a-long-folder-name/").repeated(8);
    ASSERT_TRUE(QDir(dir.path()).mkpath(deep));
    const std::string path = writeScript(deep + "firmware_v2.pf3", kScript);
    selectScript(path);
    QLineEdit* text1 = win().textBox(TextBoxId::Text1);
    EXPECT_EQ(text1->text(), QString::fromStdString(path));
    EXPECT_EQ(text1->toolTip(), QString::fromStdString(path));
    EXPECT_EQ(text1->cursorPosition(), text1->text().size());
    // The file name is wholly in view, left of the cursor at the end.
    const int nameWidth = text1->fontMetrics().horizontalAdvance(QStringLiteral("firmware_v2.pf3"));
    (void)text1->grab();  // the box scrolls to its cursor when it paints
    const QRect cursor = text1->inputMethodQuery(Qt::ImCursorRectangle).toRect();
    EXPECT_GE(cursor.center().x() - nameWidth, 0);
    EXPECT_LE(cursor.center().x(), text1->width());
}

TEST_F(OperatorSlipsTest, LogsSelectCopyAndScrollSidewaysAndShowNoHalfRow) {
    session->start("");
    QTest::qWait(20);
    LogView* log = win().logView(LogId::Debug);
    form().PostMsg2("first");
    form().PostMsg2("second");
    form().PostMsg2("third");
    // Nothing to scroll: no bars.
    EXPECT_FALSE(log->verticalScrollBar()->isVisible());
    EXPECT_FALSE(log->horizontalScrollBar()->isVisible());

    const int h = log->rowHeight();
    QTest::mouseClick(log->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(10, h / 2));
    QTest::mouseClick(log->viewport(), Qt::LeftButton, Qt::ShiftModifier, QPoint(10, h + h / 2));
    EXPECT_EQ(log->selectedText(), "first\nsecond");
    QGuiApplication::clipboard()->clear();
    pressKey(log, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "first\nsecond");

    std::unique_ptr<QMenu> menu(log->createContextMenu());
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), 2);
    EXPECT_EQ(actions[0]->text(), qs(text::gui::kCopy));
    EXPECT_TRUE(actions[0]->isEnabled());
    EXPECT_EQ(actions[1]->text(), qs(text::gui::kCopyAll));
    actions[1]->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "first\nsecond\nthird");

    // A post leaves nothing highlighted; "Copy" then has nothing to copy.
    form().PostMsg2("fourth");
    EXPECT_FALSE(log->hasSelection());
    menu.reset(log->createContextMenu());
    EXPECT_FALSE(menu->actions()[0]->isEnabled());

    // A line wider than the view scrolls sideways.
    form().PostMsg2(std::string(300, 'x') + "END");
    QScrollBar* sideways = log->horizontalScrollBar();
    EXPECT_TRUE(sideways->isVisible());
    EXPECT_GT(sideways->maximum(), 0);
    sideways->setValue(sideways->maximum());

    // A full log: the vertical bar shows, and the strip under the last whole row stays
    // empty: no half row.
    for (int i = 0; i < 300; ++i) {
        form().PostMsg2("filler line " + std::to_string(i));
    }
    EXPECT_TRUE(log->verticalScrollBar()->isVisible());
    log->verticalScrollBar()->setValue(0);
    const QImage image = log->viewport()->grab().toImage();
    const int strip = log->visibleRows() * h;
    ASSERT_LT(image.height() - strip, h);
    const QColor base = log->palette().color(QPalette::Base);
    // (The outermost pixels carry the focus frame.)
    for (int y = strip; y < image.height() - 1; ++y) {
        for (int x = 1; x < image.width() - 1; ++x) {
            ASSERT_EQ(image.pixelColor(x, y), base) << "at " << x << "," << y;
        }
    }
}

TEST_F(OperatorSlipsTest, ThePortDialogTabsAsDesignedAndTheArrowsMoveTheCheck) {
    session->start("");
    click(button(ButtonId::ConfigComPort));
    dialog().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog()));
    QWidget* initialize = dialog().initializeButton();
    QWidget* cancel = dialog().cancelButton();
    const auto tabChain = [&](Qt::KeyboardModifiers mods) {
        initialize->setFocus();
        std::vector<QWidget*> chain{initialize};
        for (int i = 0; i < 3; ++i) {
            pressKey(QApplication::focusWidget(), mods ? Qt::Key_Backtab : Qt::Key_Tab, mods);
            chain.push_back(QApplication::focusWidget());
        }
        return chain;
    };
    // COM6 checked (the start-up choice): COM1 to COM4 hold no stop before Cancel.
    EXPECT_EQ(tabChain(Qt::NoModifier),
              (std::vector<QWidget*>{initialize, cancel, dialog().ComxBtn(6), initialize}));
    EXPECT_EQ(tabChain(Qt::ShiftModifier),
              (std::vector<QWidget*>{initialize, dialog().ComxBtn(6), cancel, initialize}));
    click(dialog().ComxBtn(3));
    EXPECT_EQ(tabChain(Qt::NoModifier),
              (std::vector<QWidget*>{initialize, dialog().ComxBtn(3), cancel, initialize}));

    // Down, Down, Enter from COM3 opens COM5, where the check and the focus are.
    initialize->setFocus();
    pressKey(initialize, Qt::Key_Tab);
    pressKey(QApplication::focusWidget(), Qt::Key_Down);
    pressKey(QApplication::focusWidget(), Qt::Key_Down);
    EXPECT_EQ(QApplication::focusWidget(), dialog().ComxBtn(5));
    EXPECT_TRUE(dialog().ComxBtn(5)->isChecked());
    EXPECT_EQ(form().state().ComPort, 5);
    pressKey(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_FALSE(dialog().isVisible());
    EXPECT_EQ(boxText(TextBoxId::Text2), "COM5: at max rate");

    // Up from COM1 goes round to COM8.
    click(button(ButtonId::ConfigComPort));
    click(dialog().ComxBtn(1));
    pressKey(dialog().ComxBtn(1), Qt::Key_Up);
    EXPECT_TRUE(dialog().ComxBtn(8)->isChecked());
    EXPECT_EQ(form().state().ComPort, 8);
}

TEST_F(OperatorSlipsTest, TheFileDialogShowsNameSizeTypeAndDateWhole) {
    QFileDialog files;
    FileDialogSettings settings;
    settings.filterName = std::string(text::kScriptFilterName);
    settings.filterPattern = std::string(text::kScriptFilterPattern);
    configureFileDialog(files, settings);
    auto* view = files.findChild<QTreeView*>(QStringLiteral("treeView"));
    ASSERT_NE(view, nullptr);
    const QFontMetrics metrics = files.fontMetrics();
    const QString widest[] = {
        QStringLiteral("orx716_firmware_release_2026-12.pf3"), QStringLiteral("1023.99 KiB"),
        QStringLiteral("pf3 File"),
        QLocale().toString(QDateTime(QDate(2026, 12, 28), QTime(23, 59)), QLocale::ShortFormat)};
    int total = 0;
    for (int i = 0; i < 4; ++i) {
        EXPECT_GE(view->header()->sectionSize(i), metrics.horizontalAdvance(widest[i]) + 8)
            << "column " << i;
        total += view->header()->sectionSize(i);
    }
    EXPECT_GE(files.width(), total);
}

}  // namespace
}  // namespace reburn3::testing
