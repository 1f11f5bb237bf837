// SPDX-License-Identifier: Apache-2.0
// The progress counters: they look exactly like an ordinary line edit in every state,
// their frame follows the box's size, palette and focus, a text equal to the one shown
// paints nothing, and during a run the boxes follow the engine's counts a few times a
// second.
#include <QApplication>
#include <QElapsedTimer>
#include <QPaintEvent>
#include <QScreen>
#include <QStyleHints>
#include <algorithm>
#include <array>
#include <vector>

#include "gui/progress_box.h"
#include "gui_fixture.h"

namespace reburn3::testing {
namespace {

// What the screen shows of `widget`'s window inside `rect` (in the window's coordinates).
QImage onScreen(QWidget& window, const QRect& rect) {
    return QGuiApplication::primaryScreen()
        ->grabWindow(window.winId(), rect.x(), rect.y(), rect.width(), rect.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}
QImage onScreen(QWidget& widget) {
    QWidget& window = *widget.window();
    return onScreen(window, QRect(widget.mapTo(&window, QPoint(0, 0)), widget.size()));
}

class PaintCount : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

// A progress box and an ordinary line edit side by side, of the same size and text, on
// a plain window as the main window's client area is.
class ProgressBoxTest : public ::testing::Test {
protected:
    ProgressBoxTest() : box(new ProgressBox(&window)), plain(new QLineEdit(&window)) {
        window.resize(320, 120);
        // The focus stays on the window until a test gives it to a box.
        window.setFocusPolicy(Qt::StrongFocus);
        box->setGeometry(10, 10, 80, 24);
        plain->setGeometry(150, 10, 80, 24);
        window.show();
        QApplication::setActiveWindow(&window);
        window.setFocus();
        waitForPaints();
        // A steady text cursor: what a focused box shows does not depend on when it is
        // looked at.
        QApplication::setCursorFlashTime(0);
    }
    ~ProgressBoxTest() override { QApplication::setCursorFlashTime(flashTime); }

    static void waitForPaints() { QTest::qWait(30); }

    void showBoth(const QString& text) {
        box->showCount(text);
        plain->setText(text);
        plain->setCursorPosition(0);
        waitForPaints();
    }
    void resizeBoth(QSize size) {
        box->resize(size);
        plain->resize(size);
        waitForPaints();
    }

    const int flashTime = QApplication::cursorFlashTime();
    QWidget window;
    ProgressBox* box;
    QLineEdit* plain;
};

TEST_F(ProgressBoxTest, LooksLikeAnOrdinaryLineEditInEveryState) {
    const auto expectAlike = [&](const char* what) {
        EXPECT_EQ(onScreen(*box), onScreen(*plain)) << what;
    };
    showBoth("12345");
    expectAlike("a count");
    showBoth("100.0 %");
    expectAlike("a percentage");
    showBoth("");
    expectAlike("empty");
    showBoth("123456789012345678901234567890");
    expectAlike("a text wider than the box");
    const int made = box->framePicturesMade();
    EXPECT_GE(made, 1);

    showBoth("42");
    resizeBoth(QSize(120, 30));
    expectAlike("after a resize");
    EXPECT_GT(box->framePicturesMade(), made);

    // A new palette on the window reaches both boxes (Base fills them, Window lies
    // under their rounded corners).
    QPalette palette = window.palette();
    palette.setColor(QPalette::Base, QColor(250, 240, 200));
    palette.setColor(QPalette::Window, QColor(90, 120, 160));
    window.setPalette(palette);
    waitForPaints();
    expectAlike("after a palette change");

    box->setEnabled(false);
    plain->setEnabled(false);
    waitForPaints();
    expectAlike("disabled");
    box->setEnabled(true);
    plain->setEnabled(true);

    // The focus frame and the text cursor, one box at a time; then selected text.
    box->setFocus();
    waitForPaints();
    const QImage focusedBox = onScreen(*box);
    plain->setFocus();
    waitForPaints();
    EXPECT_EQ(focusedBox, onScreen(*plain)) << "with the focus";
    plain->selectAll();
    waitForPaints();
    const QImage selectedPlain = onScreen(*plain);
    box->setFocus();
    box->selectAll();
    waitForPaints();
    EXPECT_EQ(onScreen(*box), selectedPlain) << "with the text selected";
    window.setFocus();
    waitForPaints();
    expectAlike("after the focus left");
}

// Under a parent that paints its own background the frame cannot come from a picture:
// the style draws it, and it still looks as an ordinary one does.
TEST_F(ProgressBoxTest, LeavesTheFrameToTheStyleOverAPaintedBackground) {
    window.setStyleSheet(
        "QWidget#under { background: qlineargradient(x1:0, y1:0, x2:1, y2:1, "
        "stop:0 #204060, stop:1 #c0a080); }");
    auto* under = new QWidget(&window);
    under->setObjectName("under");
    under->setAttribute(Qt::WA_StyledBackground);
    under->setGeometry(0, 0, 320, 120);
    box->setParent(under);
    plain->setParent(under);
    under->show();
    box->show();
    plain->show();
    const int made = box->framePicturesMade();
    showBoth("7");
    EXPECT_EQ(box->framePicturesMade(), made);
    // The gradient differs under the two boxes: compare each with a repaint of itself.
    EXPECT_EQ(onScreen(*box),
              window.grab(box->geometry()).toImage().convertToFormat(QImage::Format_RGB32));
}

TEST_F(ProgressBoxTest, PaintsNothingForTheTextItShows) {
    showBoth("64");
    PaintCount count;
    box->installEventFilter(&count);
    box->showCount("64");
    waitForPaints();
    EXPECT_EQ(count.paints, 0);
    box->showCount("65");
    waitForPaints();
    EXPECT_EQ(count.paints, 1);
    EXPECT_EQ(box->text(), "65");
    EXPECT_EQ(box->cursorPosition(), 0);
}

// Every text the engine sets in a progress box, in order.
class CountsSet : public WindowListener {
public:
    explicit CountsSet(WindowModel& model, TextBoxId box) : m_model(model), m_box(box) {
        m_model.addListener(this);
    }
    ~CountsSet() override { m_model.removeListener(this); }
    void textChanged(TextBoxId box) override {
        if (box == m_box) {
            texts.push_back(QString::fromStdString(m_model.text(box)));
        }
    }
    std::vector<QString> texts;

private:
    WindowModel& m_model;
    TextBoxId m_box;
};

// Every text a box showed when it was painted.
class TextsPainted : public QObject {
public:
    std::vector<QString> texts;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            texts.push_back(static_cast<QLineEdit*>(watched)->text());
        }
        return false;
    }
};

using ProgressInTheWindowTest = GuiTest;

// A download through the window: the counts change at every record, and the boxes follow
// them a few times a second (no more than 25), each time with a count the engine set,
// never going back; the run's last counts show when it ends.
TEST_F(ProgressInTheWindowTest, TheCountsFollowTheRunAFewTimesASecond) {
    echoDevice();
    session->start("");
    QByteArray script;
    for (int i = 0; i < 60; ++i) {
        const QByteArray hex = QByteArray::number(0x20 + i, 16).toUpper();
        script += "T" + hex + ":T" + hex + ":R" + hex + ":R" + hex + ":E\r\n:";
    }
    selectScript(writeScript("counts.pf3", script));
    openPort(1);
    win().show();
    QApplication::setActiveWindow(&win());
    QTest::qWait(30);

    QLineEdit* completed = win().textBox(TextBoxId::Text4);
    CountsSet set(form().window(), TextBoxId::Text4);
    TextsPainted painted;
    completed->installEventFilter(&painted);
    QElapsedTimer run;
    run.start();
    click(button(ButtonId::ProgramFlash));
    ASSERT_TRUE(waitForRunEnd());
    const qint64 runMs = run.elapsed();
    EXPECT_EQ(form().engine().outcome(), RunOutcome::Completed);

    ASSERT_GT(set.texts.size(), 200U);
    auto next = set.texts.begin();
    for (const QString& text : painted.texts) {
        next = std::find(next, set.texts.end(), text);
        ASSERT_NE(next, set.texts.end())
            << "painted \"" << text.toStdString() << "\": not set by the engine, or gone back";
    }
    EXPECT_GE(painted.texts.size(), 4U) << "the counts showed only at the end";
    EXPECT_LE(static_cast<qint64>(painted.texts.size()), runMs / 40 + 4)
        << painted.texts.size() << " paints in " << runMs << " ms";
    EXPECT_EQ(boxText(TextBoxId::Text3), "0");
    EXPECT_EQ(boxText(TextBoxId::Text4), "300");
    EXPECT_EQ(boxText(TextBoxId::Text5), "100.0 %");
    QTest::qWait(30);
    EXPECT_EQ(onScreen(*completed),
              completed->grab().toImage().convertToFormat(QImage::Format_RGB32));
}

// During a run a count waits until a frame has passed since the counts last showed: a
// post then carries it to the screen in the same paint, and without a post it shows two
// frames after at the latest.
TEST_F(ProgressInTheWindowTest, ACountShowsWithAPostOrOnItsOwnSoonAfter) {
    session->start("");
    win().show();
    QTest::qWait(30);
    form().state().ProgramMode = 1;  // as during a download
    QLineEdit* remaining = win().textBox(TextBoxId::Text3);

    form().window().setText(TextBoxId::Text3, "41");
    EXPECT_NE(remaining->text(), "41") << "shown before the turn of the event loop ended";
    QTRY_COMPARE_WITH_TIMEOUT(remaining->text(), QString("41"), 2000);

    // A frame later a post brings the newest count with it.
    QTest::qWait(50);
    form().window().setText(TextBoxId::Text3, "40");
    form().PostMsg1("Processing ...   2");
    EXPECT_EQ(remaining->text(), "40");
    EXPECT_EQ(onScreen(*remaining),
              remaining->grab().toImage().convertToFormat(QImage::Format_RGB32));

    // The end of the run shows the last counts at once.
    form().window().setText(TextBoxId::Text3, "0");
    form().state().ProgramMode = 0;
    form().window().setCaption(ButtonId::ProgramFlash, "Program FLASH");
    EXPECT_EQ(remaining->text(), "0");
}

}  // namespace
}  // namespace reburn3::testing
