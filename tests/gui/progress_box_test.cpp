// The progress counters: they look exactly like an ordinary line edit in every state,
// their frame follows the box's size, palette and focus, a text equal to the one shown
// paints nothing, and during a run the screen shows each count the engine sets by the
// end of the turn of the event loop that set it.
#include <QApplication>
#include <QPaintEvent>
#include <QScreen>
#include <QStyleHints>
#include <array>
#include <optional>

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

// What the counters should show at the end of a tick: what the engine had set by the end
// of the tick before, or, when the tick posted a line, what it had set by the last post
// (the counters go to the screen with the log's immediate repaint).
class ExpectedCounts : public WindowListener {
public:
    static constexpr std::array<TextBoxId, 3> kBoxes{TextBoxId::Text3, TextBoxId::Text4,
                                                     TextBoxId::Text5};
    explicit ExpectedCounts(WindowModel& model) : m_model(model) { m_model.addListener(this); }
    ~ExpectedCounts() override { m_model.removeListener(this); }

    void lineAppended(LogId /*log*/, const std::string& /*line*/,
                      std::size_t /*dropped*/) override {
        atPost = current();
    }
    std::array<QString, 3> current() const {
        std::array<QString, 3> texts;
        for (std::size_t i = 0; i < kBoxes.size(); ++i) {
            texts[i] = QString::fromStdString(m_model.text(kBoxes[i]));
        }
        return texts;
    }

    std::array<QString, 3> atTickEnd;
    std::optional<std::array<QString, 3>> atPost;

private:
    WindowModel& m_model;
};

// A download through the window: at the end of each tick the screen shows the counts
// exactly as the engine set them, in the window's boxes, by the end of the turn that set
// them.
using ProgressInTheWindowTest = GuiTest;

TEST_F(ProgressInTheWindowTest, EveryCountIsOnTheScreenAfterItsTurn) {
    echoDevice();
    session->start("");
    QByteArray script;
    for (int i = 0; i < 12; ++i) {
        const QByteArray hex = QByteArray::number(0x20 + i, 16).toUpper();
        script += "T" + hex + ":T" + hex + ":R" + hex + ":R" + hex + ":E\r\n:";
    }
    selectScript(writeScript("counts.pf3", script));
    openPort(1);
    win().show();
    QApplication::setActiveWindow(&win());
    QTest::qWait(30);

    ExpectedCounts expected(form().window());
    int ticks = 0;
    int checked = 0;
    QString failure;
    QObject::connect(&session->tickTimer(), &QtTickTimer::ticked, &win(), [&] {
        const std::array<QString, 3> shown = expected.atPost.value_or(expected.atTickEnd);
        for (std::size_t i = 0; i < shown.size() && ticks > 0 && failure.isEmpty(); ++i) {
            QLineEdit* edit = win().textBox(ExpectedCounts::kBoxes[i]);
            const QRect at(edit->mapTo(&win(), QPoint(0, 0)), edit->size());
            if (edit->text() != shown[i]) {
                failure = QString("tick %1: box %2 shows \"%3\", the engine set \"%4\"")
                              .arg(ticks)
                              .arg(i + 3)
                              .arg(edit->text(), shown[i]);
            } else if (onScreen(win(), at) !=
                       win().grab(at).toImage().convertToFormat(QImage::Format_RGB32)) {
                failure = QString("tick %1: box %2 is not painted").arg(ticks).arg(i + 3);
            }
            ++checked;
        }
        expected.atTickEnd = expected.current();
        expected.atPost.reset();
        ++ticks;
    });
    click(button(ButtonId::ProgramFlash));
    ASSERT_TRUE(waitForRunEnd());
    EXPECT_EQ(form().engine().outcome(), RunOutcome::Completed);
    EXPECT_TRUE(failure.isEmpty()) << failure.toStdString();
    EXPECT_GT(checked, 30);
    EXPECT_EQ(boxText(TextBoxId::Text3), "0");
    EXPECT_EQ(boxText(TextBoxId::Text4), "60");
    EXPECT_EQ(boxText(TextBoxId::Text5), "100.0 %");
}

}  // namespace
}  // namespace reburn3::testing
