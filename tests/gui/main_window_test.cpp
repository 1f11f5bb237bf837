// SPDX-License-Identifier: Apache-2.0
// The main window: start-up, layout, focus, the logs, a run through its buttons, and
// the ways out.
#include <QAction>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPaintEvent>
#include <QScreen>
#include <QScrollBar>
#include <QStyleHints>
#include <algorithm>
#include <iostream>

#include "base/messages.h"
#include "gui/about_box.h"
#include "gui_fixture.h"

namespace reburn3::testing {
namespace {

QString qs(std::string_view t) {
    return QString::fromUtf8(t.data(), static_cast<qsizetype>(t.size()));
}

// A script the echo device plays: each line sends a byte and expects it back.
QByteArray echoScript(int lines) {
    QByteArray out;
    for (int i = 0; i < lines; ++i) {
        const QByteArray hex = QByteArray::number(0x10 + (i % 0x60), 16).toUpper();
        out += "T" + hex + ":R" + hex + ":E\r\n:";
    }
    return out;
}

using MainWindowTest = GuiTest;

TEST_F(MainWindowTest, StartsAsDesignedWithoutAScript) {
    session->start("");
    EXPECT_TRUE(win().isVisible());
    EXPECT_FALSE(dialog().isVisible());
    EXPECT_EQ(win().windowTitle(), qs(text::kMainWindowTitle));
    EXPECT_EQ(boxText(TextBoxId::Text1), qs(text::kNoFileSelected));
    for (auto id : {TextBoxId::Text2, TextBoxId::Text3, TextBoxId::Text4, TextBoxId::Text5}) {
        EXPECT_TRUE(boxText(id).isEmpty());
    }
    const std::pair<ButtonId, std::string_view> captions[] = {
        {ButtonId::SelectInputFile, text::kSelectInputFile},
        {ButtonId::ConfigComPort, text::kConfigComPort},
        {ButtonId::ProgramFlash, text::kProgramFlash},
        {ButtonId::AbortProgram, text::kExitAbort},
        {ButtonId::ClearStatus, text::kClearStatus},
        {ButtonId::ClearDebug, text::kClearDebug},
    };
    for (const auto& [id, caption] : captions) {
        EXPECT_EQ(button(id)->text(), qs(caption));
        EXPECT_TRUE(button(id)->isEnabled());
        EXPECT_FALSE(button(id)->text().contains('&')) << "no access keys on the main window";
    }
    EXPECT_EQ(win().logView(LogId::Status)->rowCount(), 0);
    EXPECT_EQ(win().logView(LogId::Debug)->rowCount(), 0);
    EXPECT_EQ(win().focusWidget(), button(ButtonId::SelectInputFile));
    EXPECT_FALSE(session->tickTimer().isActive());
    EXPECT_EQ(dialog().selectedOption(), 6);
}

TEST_F(MainWindowTest, TakesTheScriptNameFromTheWholeArgumentText) {
    EXPECT_EQ(argumentText({"reburn3-gui", "one.pf3", "two.pf3"}), "one.pf3 two.pf3");
    EXPECT_EQ(argumentText({"reburn3-gui", "my file.pf3"}), "my file.pf3");
    EXPECT_EQ(argumentText({"reburn3-gui"}), "");
    session->start(argumentText({"reburn3-gui", "my file.pf3"}).toStdString());
    EXPECT_EQ(boxText(TextBoxId::Text1), "my file.PF3");
    EXPECT_EQ(form().state().FileMode, 1);
}

TEST_F(MainWindowTest, HasFixedSizeLabelsAndMenu) {
    session->start("");
    EXPECT_EQ(win().minimumSize(), win().maximumSize());
    const QSize designed = win().size();
    win().resize(designed + QSize(100, 100));
    EXPECT_EQ(win().size(), designed);

    EXPECT_EQ(win().label(1)->text(), qs(text::kStatusHeading));
    EXPECT_EQ(win().label(3)->text(), qs(text::kDebugHeading));
    EXPECT_EQ(win().label(4)->text(), qs(text::kRemaining));
    EXPECT_EQ(win().label(5)->text(), qs(text::kCompleted));

    const QList<QAction*> menus = win().menuBar()->actions();
    ASSERT_EQ(menus.size(), 1);
    EXPECT_EQ(menus[0]->text(), "Help");
    ASSERT_NE(menus[0]->menu(), nullptr);
    ASSERT_EQ(menus[0]->menu()->actions().size(), 1);
    EXPECT_EQ(menus[0]->menu()->actions()[0]->text(), "About");
}

TEST_F(MainWindowTest, ArrangesTheControlsAsDesigned) {
    session->start("");
    auto geo = [](QWidget* w) { return w->geometry(); };
    const QRect list1 = geo(win().logView(LogId::Status));
    const QRect list2 = geo(win().logView(LogId::Debug));
    const QRect select = geo(button(ButtonId::SelectInputFile));
    const QRect config = geo(button(ButtonId::ConfigComPort));
    const QRect program = geo(button(ButtonId::ProgramFlash));
    const QRect exitButton = geo(button(ButtonId::AbortProgram));

    // The status log spans the top; its heading centred above; its clear button below
    // its right end.
    EXPECT_LT(list1.bottom(), select.top());
    EXPECT_EQ(geo(win().label(1)).center().x(), list1.center().x());
    EXPECT_LT(geo(win().label(1)).bottom(), list1.top());
    EXPECT_EQ(geo(button(ButtonId::ClearStatus)).right(), list1.right());
    EXPECT_GT(geo(button(ButtonId::ClearStatus)).top(), list1.bottom());
    // The column of commands, top to bottom, each box to its right.
    EXPECT_LT(select.bottom(), config.top());
    EXPECT_LT(config.bottom(), program.top());
    EXPECT_LT(program.bottom(), exitButton.top());
    EXPECT_GT(geo(win().textBox(TextBoxId::Text1)).left(), select.right());
    EXPECT_GT(geo(win().textBox(TextBoxId::Text2)).left(), config.right());
    EXPECT_GT(list2.left(), program.right());
    EXPECT_EQ(geo(win().label(3)).center().x(), list2.center().x());
    EXPECT_EQ(geo(button(ButtonId::ClearDebug)).right(), list2.right());
    // The counters in the bottom right corner, labels on the left of their boxes.
    const QRect text3 = geo(win().textBox(TextBoxId::Text3));
    const QRect text4 = geo(win().textBox(TextBoxId::Text4));
    const QRect text5 = geo(win().textBox(TextBoxId::Text5));
    EXPECT_EQ(geo(win().label(4)).top(), text3.top());
    EXPECT_LT(geo(win().label(4)).right(), text3.left());
    EXPECT_GT(geo(win().label(4)).right(), text3.left() - 10);
    EXPECT_LT(text3.bottom(), text4.top());
    EXPECT_EQ(text4.top(), text5.top());
    EXPECT_GT(text5.left(), text4.right());
    EXPECT_EQ(text5.right(), list2.right());
    EXPECT_TRUE(win().label(4)->alignment() & Qt::AlignRight);
    EXPECT_TRUE(win().label(5)->alignment() & Qt::AlignRight);
}

TEST_F(MainWindowTest, MovesTheFocusInTheDesignedOrder) {
    session->start("");
    QWidget* expected[] = {
        button(ButtonId::SelectInputFile), button(ButtonId::ProgramFlash),
        button(ButtonId::AbortProgram),    button(ButtonId::ConfigComPort),
        win().textBox(TextBoxId::Text1),   win().textBox(TextBoxId::Text2),
        win().logView(LogId::Status),      win().logView(LogId::Debug),
        button(ButtonId::ClearStatus),     button(ButtonId::ClearDebug),
        win().textBox(TextBoxId::Text5),   win().textBox(TextBoxId::Text4),
        win().textBox(TextBoxId::Text3),
    };
    std::vector<QWidget*> chain;
    QWidget* w = expected[0];
    do {
        if (std::find(std::begin(expected), std::end(expected), w) != std::end(expected)) {
            chain.push_back(w);
        }
        w = w->nextInFocusChain();
    } while (w != expected[0] && chain.size() < 20);
    ASSERT_EQ(chain.size(), std::size(expected));
    for (std::size_t i = 0; i < chain.size(); ++i) {
        EXPECT_EQ(chain[i], expected[i]) << "position " << i;
        EXPECT_NE(chain[i]->focusPolicy() & Qt::TabFocus, 0);
    }
}

TEST_F(MainWindowTest, LogsKeepTheirNewestLinesInViewAndTrimAtTheirLimits) {
    session->start("");
    LogView* status = win().logView(LogId::Status);
    LogView* debug = win().logView(LogId::Debug);
    for (int i = 1; i <= 1001; ++i) {
        form().PostMsg1("status " + std::to_string(i));
    }
    for (int i = 1; i <= 301; ++i) {
        form().PostMsg2("debug " + std::to_string(i));
    }
    EXPECT_EQ(status->rowCount(), 1000);
    EXPECT_EQ(status->rowText(0), "status 2");
    EXPECT_EQ(status->rowText(999), "status 1001");
    EXPECT_TRUE(status->lastRowVisible());
    EXPECT_EQ(status->rowAt({5, (status->visibleRows() - 1) * status->rowHeight() + 1}), 999);
    EXPECT_EQ(debug->rowCount(), 300);
    EXPECT_EQ(debug->rowText(0), "debug 2");
    EXPECT_TRUE(debug->lastRowVisible());

    // Blanks and empty lines are lines too.
    form().PostMsg1("   ");
    form().PostMsg1("");
    EXPECT_EQ(status->rowText(998), "   ");
    EXPECT_EQ(status->rowText(999), "");

    click(button(ButtonId::ClearStatus));
    EXPECT_EQ(status->rowCount(), 0);
    EXPECT_EQ(debug->rowCount(), 300);
    form().PostMsg1("after");
    EXPECT_EQ(lines(LogId::Status), std::vector<QString>{"after"});
    click(button(ButtonId::ClearDebug));
    EXPECT_EQ(debug->rowCount(), 0);
    EXPECT_EQ(status->rowCount(), 1);
}

// Counts the paints a widget receives, and the height of the last one.
class PaintCounter : public QObject {
public:
    int paints = 0;
    int lastHeight = 0;
    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++paints;
            lastHeight = static_cast<QPaintEvent*>(event)->rect().height();
        }
        return false;
    }
};

// The log's pixels as they are on the screen now, and as a whole repaint would draw them.
QImage onScreen(LogView& log) {
    QWidget* window = log.window();
    const QPoint at = log.viewport()->mapTo(window, QPoint(0, 0));
    return QGuiApplication::primaryScreen()
        ->grabWindow(window->winId(), at.x(), at.y(), log.viewport()->width(),
                     log.viewport()->height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}
QImage repainted(LogView& log) {
    return log.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
}
// The same for its vertical scroll bar.
QImage barOnScreen(LogView& log) {
    QScrollBar* bar = log.verticalScrollBar();
    QWidget* window = log.window();
    const QPoint at = bar->mapTo(window, QPoint(0, 0));
    return QGuiApplication::primaryScreen()
        ->grabWindow(window->winId(), at.x(), at.y(), bar->width(), bar->height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}
QImage barRepainted(LogView& log) {
    QScrollBar* bar = log.verticalScrollBar();
    return log.window()
        ->grab(QRect(bar->mapTo(log.window(), QPoint(0, 0)), bar->size()))
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

// A post paints at once, without a return to the event loop. Once the log is full it
// moves the rows in view up and paints only the new one; what is on the screen is what a
// whole repaint draws, while the log fills, scrolls, drops its oldest lines, when rows
// begin alike, after a selection and after the view was scrolled up.
TEST_F(MainWindowTest, APostRepaintsItsLogAtOnce) {
    session->start("");
    QTest::qWait(20);
    LogView& log = *win().logView(LogId::Debug);
    PaintCounter counter;
    log.viewport()->installEventFilter(&counter);
    form().PostMsg2("now");
    EXPECT_EQ(counter.paints, 1);
    form().PostMsg2("and now");
    EXPECT_EQ(counter.paints, 2);

    // Lines of different widths: the rows move only as far right as their text reaches.
    auto post = [&](int i) {
        form().PostMsg2("line " + std::to_string(i) +
                        (i % 5 == 2 ? " of the debug log, with a longer tail of text" : ""));
    };
    // (A whole repaint, for the comparison, paints too: the post's paint is taken first.)
    const int rows = log.visibleRows();
    int postPaintHeight = 0;
    for (int i = 0; i < rows + 5; ++i) {
        const int paintsBefore = counter.paints;
        post(i);
        EXPECT_EQ(counter.paints, paintsBefore + 1) << i;
        postPaintHeight = counter.lastHeight;
        ASSERT_EQ(onScreen(log), repainted(log)) << "post " << i;
    }
    EXPECT_TRUE(log.lastRowVisible());
    EXPECT_EQ(postPaintHeight, log.rowHeight());

    // Rows that begin with the same words move only right of them: the screen still shows
    // what a whole repaint draws, as the words they share grow, shrink and vanish.
    for (int i = 0; i < rows + 12; ++i) {
        std::string line = "Processing ...   " + std::to_string(64 * i);
        if (i % 7 == 3) {
            line += "          Time: 12:00:0" + std::to_string(i % 10);
        } else if (i % 11 == 5) {
            line = "Processing complete.  Exit this application.";
        } else if (i % 13 == 8) {
            line = "Processing ...   Grüße " + std::to_string(i);
        } else if (i == rows + 9) {
            line = "x";
        }
        form().PostMsg2(line);
        ASSERT_EQ(onScreen(log), repainted(log)) << line;
    }

    log.selectRows(3, 5);
    QTest::qWait(20);
    post(1000);
    EXPECT_FALSE(log.hasSelection());
    EXPECT_EQ(onScreen(log), repainted(log)) << "after a selection";

    log.verticalScrollBar()->setValue(0);
    QTest::qWait(20);
    post(1001);
    EXPECT_TRUE(log.lastRowVisible());
    EXPECT_EQ(onScreen(log), repainted(log)) << "after scrolling up";

    // While the list grows its scroll bar's slider shrinks and then stays at the foot: the
    // bar shows where it is after every post, and is painted only when it moved.
    PaintCounter barPaints;
    log.verticalScrollBar()->installEventFilter(&barPaints);
    int growingPosts = 0;
    int barPaintsByPosts = 0;  // (the comparison's repaint paints it too)
    while (log.rowCount() < static_cast<int>(WindowModel::kDebugLimit)) {
        const int paintsBefore = barPaints.paints;
        post(2000 + log.rowCount());
        barPaintsByPosts += barPaints.paints - paintsBefore;
        ++growingPosts;
        ASSERT_EQ(barOnScreen(log), barRepainted(log)) << "growing list, row " << log.rowCount();
    }
    EXPECT_LT(barPaintsByPosts, growingPosts / 2);

    // A full list drops its oldest line at each post: the rows in view still move by one.
    for (int i = 0; i < 6; ++i) {
        post(3000 + i);
        EXPECT_EQ(counter.lastHeight, log.rowHeight()) << i;
        ASSERT_EQ(onScreen(log), repainted(log)) << "full list, post " << i;
        ASSERT_EQ(barOnScreen(log), barRepainted(log)) << "full list, post " << i;
    }
}

// Reports what a post with its repaint costs on a full log; speed is not asserted.
TEST_F(MainWindowTest, ReportsTheCostOfAPost) {
    session->start("");
    QTest::qWait(20);
    for (int i = 0; i < 1000; ++i) {
        form().PostMsg1("Processing ...   " + std::to_string(i) + "          Time: 12:00:00");
    }
    constexpr int kPosts = 2000;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < kPosts; ++i) {
        form().PostMsg1("Processing ...   " + std::to_string(i) + "          Time: 12:00:01");
    }
    const double perPostMs = static_cast<double>(timer.nsecsElapsed()) / 1e6 / kPosts;
    std::cout << "[ report   ] post + repaint on a full status log: " << perPostMs
              << " ms per post\n";
    RecordProperty("post_ms", std::to_string(perPostMs));
    EXPECT_EQ(win().logView(LogId::Status)->rowCount(), 1000);
}

TEST_F(MainWindowTest, FollowsARunThroughItsButtons) {
    echoDevice();
    session->start("");
    const std::string script = writeScript("echo.pf3", echoScript(20));
    selectScript(script);
    EXPECT_EQ(boxText(TextBoxId::Text1).toStdString(), script);
    EXPECT_EQ(boxText(TextBoxId::Text3), "60");
    EXPECT_EQ(boxText(TextBoxId::Text4), "0");
    EXPECT_EQ(boxText(TextBoxId::Text5), "0.0 %");

    openPort(3);
    EXPECT_FALSE(dialog().isVisible());
    EXPECT_EQ(boxText(TextBoxId::Text2), "COM3: at max rate");
    EXPECT_TRUE(session->tickTimer().isActive());
    EXPECT_EQ(session->tickTimer().interval(), 5);

    click(button(ButtonId::ProgramFlash));
    EXPECT_EQ(button(ButtonId::ProgramFlash)->text(), qs(text::kAbortProcess));
    EXPECT_FALSE(button(ButtonId::SelectInputFile)->isEnabled());
    EXPECT_FALSE(button(ButtonId::ConfigComPort)->isEnabled());
    EXPECT_TRUE(button(ButtonId::ProgramFlash)->isEnabled());
    EXPECT_TRUE(button(ButtonId::AbortProgram)->isEnabled());
    EXPECT_TRUE(button(ButtonId::ClearStatus)->isEnabled());
    EXPECT_TRUE(button(ButtonId::ClearDebug)->isEnabled());
    EXPECT_TRUE(win().aboutAction()->isEnabled());

    ASSERT_TRUE(waitForRunEnd());
    EXPECT_EQ(form().engine().outcome(), RunOutcome::Completed);
    EXPECT_EQ(button(ButtonId::ProgramFlash)->text(), qs(text::kProgramFlash));
    EXPECT_TRUE(button(ButtonId::SelectInputFile)->isEnabled());
    EXPECT_TRUE(button(ButtonId::ConfigComPort)->isEnabled());
    EXPECT_EQ(boxText(TextBoxId::Text3), "0");
    EXPECT_EQ(boxText(TextBoxId::Text4), "60");
    EXPECT_EQ(boxText(TextBoxId::Text5), "100.0 %");
    const std::vector<QString> status = lines(LogId::Status);
    EXPECT_NE(std::find(status.begin(), status.end(), qs(text::kProcessingComplete)), status.end());
    // The port stays open for the next run.
    EXPECT_TRUE(session->tickTimer().isActive());
    EXPECT_EQ(boxText(TextBoxId::Text2), "COM3: at max rate");
}

TEST_F(MainWindowTest, AbortProcessEndsARunAndRestoresTheButtons) {
    // The device never answers the handshake: the run waits until aborted.
    session->start("");
    selectScript(writeScript("echo.pf3", echoScript(3)));
    openPort(2);
    click(button(ButtonId::ProgramFlash));
    // A deliberate abort, later than the second click of a double-click could come.
    QTest::qWait(QGuiApplication::styleHints()->mouseDoubleClickInterval() + 30);
    ASSERT_EQ(button(ButtonId::ProgramFlash)->text(), qs(text::kAbortProcess));
    click(button(ButtonId::ProgramFlash));
    ASSERT_TRUE(waitForRunEnd());
    EXPECT_EQ(form().engine().outcome(), RunOutcome::Aborted);
    EXPECT_EQ(button(ButtonId::ProgramFlash)->text(), qs(text::kProgramFlash));
    EXPECT_TRUE(button(ButtonId::SelectInputFile)->isEnabled());
    EXPECT_TRUE(button(ButtonId::ConfigComPort)->isEnabled());
    EXPECT_EQ(endCount, 0);
}

TEST_F(MainWindowTest, CancelledFileDialogLeavesNoScript) {
    session->start("");
    const std::string script = writeScript("a.pf3", echoScript(2));
    selectScript(script);
    ASSERT_EQ(form().state().FileMode, 1);
    whenModalOpens<QFileDialog>([](QFileDialog* d) { d->reject(); });
    click(button(ButtonId::SelectInputFile));
    EXPECT_EQ(form().state().FileMode, 0);
    EXPECT_TRUE(boxText(TextBoxId::Text1).isEmpty());
    EXPECT_EQ(lastLine(LogId::Status), qs(text::kSelectionCancelled));
}

TEST_F(MainWindowTest, FileDialogOffersPf3FilesFromTheCurrentDirectory) {
    session->start("");
    QStringList filters;
    QString selectedFilter;
    QString directory;
    QString suffix;
    QString typed;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    whenModalOpens<QFileDialog>([&](QFileDialog* d) {
        filters = d->nameFilters();
        selectedFilter = d->selectedNameFilter();
        directory = d->directory().absolutePath();
        suffix = d->defaultSuffix();
        mode = d->fileMode();
        if (auto* name = d->findChild<QLineEdit*>("fileNameEdit")) {
            typed = name->text();
        }
        d->reject();
    });
    click(button(ButtonId::SelectInputFile));
    EXPECT_EQ(filters, QStringList{"PF3 Files (*.pf3)"});
    EXPECT_EQ(selectedFilter, filters.value(0));
    EXPECT_EQ(directory, QDir::currentPath());
    EXPECT_EQ(suffix, "pf3");
    EXPECT_EQ(mode, QFileDialog::ExistingFile);
    EXPECT_EQ(typed, "*.pf3");
}

TEST_F(MainWindowTest, ExitWithNothingOpenOnlyTerminates) {
    session->start("");
    click(button(ButtonId::AbortProgram));
    EXPECT_EQ(endCount, 1);
    EXPECT_EQ(lines(LogId::Status), std::vector<QString>{qs(text::kProgramTerminated)});
    EXPECT_FALSE(win().isVisible());
}

TEST_F(MainWindowTest, ExitClosesScriptAndPortFirst) {
    session->start("");
    selectScript(writeScript("a.pf3", echoScript(2)));
    openPort(4);
    form().ClearStatus_Click();
    click(button(ButtonId::AbortProgram));
    EXPECT_EQ(endCount, 1);
    const std::vector<QString> expected = {qs(text::kInputFileClosed), qs(text::kPortClosed) + "4",
                                           qs(text::kProgramTerminated)};
    EXPECT_EQ(lines(LogId::Status), expected);
    EXPECT_FALSE(session->tickTimer().isActive());
    EXPECT_EQ(driver.count("UnInitializePort"), 1);
}

TEST_F(MainWindowTest, CloseBoxActsAsExitAndIsRefusedDuringATick) {
    session->start("");
    form().state().IsrActive = kTrue;
    win().close();
    EXPECT_TRUE(win().isVisible());
    EXPECT_EQ(endCount, 0);
    EXPECT_EQ(lastLine(LogId::Status), qs(text::kIsrActiveExit));
    EXPECT_FALSE(session->tickTimer().isActive());

    form().state().IsrActive = kFalse;
    win().close();
    EXPECT_EQ(endCount, 1);
    EXPECT_EQ(lastLine(LogId::Status), qs(text::kProgramTerminated));
    EXPECT_FALSE(win().isVisible());
    EXPECT_FALSE(dialog().isVisible());
}

}  // namespace
}  // namespace reburn3::testing
