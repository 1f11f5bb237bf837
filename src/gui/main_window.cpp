// SPDX-License-Identifier: Apache-2.0
#include "gui/main_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QShowEvent>
#include <QStyleHints>
#include <algorithm>

#include "app/form1.h"
#include "base/messages.h"
#include "gui/about_box.h"
#include "gui/app_icon.h"
#include "gui/fixed_layout.h"
#include "gui/gui_texts.h"
#include "gui/log_view.h"
#include "gui/progress_box.h"

namespace reburn3 {

namespace {

QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

template <typename E>
std::size_t at(E e) {
    return static_cast<std::size_t>(e);
}

bool isProgressBox(TextBoxId box) {
    return box == TextBoxId::Text3 || box == TextBoxId::Text4 || box == TextBoxId::Text5;
}

// Designed geometry of the client area, in pixels.
constexpr int kClientWidth = 640;
constexpr int kClientHeight = 610;
constexpr int kMargin = 8;
constexpr int kButtonWidth = 150;
constexpr int kButtonHeight = 28;
constexpr int kBoxLeft = kMargin + kButtonWidth + 8;
constexpr int kRight = kClientWidth - kMargin;
constexpr int kClearWidth = 120;
constexpr int kCounterWidth = 80;
// The designed position of the window on the screen.
constexpr QPoint kDesignedPosition(96, 64);
// During a download the progress boxes show their counts at most once in this time.
constexpr qint64 kProgressFrameMs = 40;

}  // namespace

MainWindow::MainWindow(Form1& form, QWidget* parent) : QMainWindow(parent), m_form(form) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(qs(text::kMainWindowTitle));
    setWindowIcon(appIcon());
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);

    buildControls();
    buildMenu();
    setFocusOrder();

    move(kDesignedPosition);
    showFocusFrame();

    m_sysInfo = std::make_unique<QtSysInfoPlatform>(this);
    m_progressTimer.setSingleShot(true);
    connect(&m_progressTimer, &QTimer::timeout, this, &MainWindow::showProgress);

    // Show the model as it stands now, then follow it.
    for (const auto id : {TextBoxId::Text1, TextBoxId::Text2, TextBoxId::Text3, TextBoxId::Text4,
                          TextBoxId::Text5}) {
        textChanged(id);
    }
    for (const auto id :
         {ButtonId::SelectInputFile, ButtonId::ConfigComPort, ButtonId::ProgramFlash,
          ButtonId::AbortProgram, ButtonId::ClearStatus, ButtonId::ClearDebug}) {
        buttonChanged(id);
    }
    m_form.window().addListener(this);
    fitToFont();

    m_buttons[at(ButtonId::SelectInputFile)]->setFocus();
}

// Fixed size: the client area as designed, plus the menu bar; all of it scaled alike
// when the font needs more room than the design gives. "Program FLASH" is measured
// with its longer caption, "Abort Process".
void MainWindow::fitToFont() {
    QPushButton* program = m_buttons[at(ButtonId::ProgramFlash)];
    const QString caption = program->text();
    program->setText(qs(text::kAbortProcess));
    m_scale = captionScale(*centralWidget());
    program->setText(caption);
    scaleControls(*centralWidget(), m_scale);
    const int menuHeight = menuBar()->sizeHint().height();
    const QSize client = scaled(QSize(kClientWidth, kClientHeight), m_scale);
    setFixedSize(client.width(), client.height() + menuHeight);
}

MainWindow::~MainWindow() {
    m_form.window().removeListener(this);
}

void MainWindow::buildControls() {
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);
    WindowModel& model = m_form.window();

    // The click handlers hold the form itself, not anything of this constructor's frame.
    Form1* form = &m_form;
    auto makeButton = [&](ButtonId id, const char* name, QRect geometry, void (Form1::*click)()) {
        auto* b = new QPushButton(client);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(geometry);
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, [form, click] { (form->*click)(); });
        b->installEventFilter(this);
        m_buttons[at(id)] = b;
    };
    auto makeText = [&](TextBoxId id, const char* name, QRect geometry) {
        QLineEdit* t = isProgressBox(id) ? new ProgressBox(client) : new QLineEdit(client);
        t->setObjectName(QString::fromLatin1(name));
        t->setGeometry(geometry);
        m_texts[at(id)] = t;
    };
    auto makeLabel = [&](const char* name, std::string_view caption, QRect geometry,
                         Qt::Alignment align) {
        auto* l = new QLabel(qs(caption), client);
        l->setObjectName(QString::fromLatin1(name));
        l->setGeometry(geometry);
        l->setAlignment(align | Qt::AlignVCenter);
        return l;
    };

    // The status log across the top, its heading centred above, its clear button
    // under its right end.
    m_label1 = makeLabel("Label1", text::kStatusHeading, QRect(kMargin, 4, kRight - kMargin, 18),
                         Qt::AlignHCenter);
    m_list1 = new LogView(model.log(LogId::Status), client);
    m_list1->setObjectName(QStringLiteral("List1"));
    m_list1->setGeometry(kMargin, 24, kRight - kMargin, 218);
    makeButton(ButtonId::ClearStatus, "ClearStatus",
               QRect(kRight - kClearWidth, 246, kClearWidth, 26), &Form1::ClearStatus_Click);

    // The column of commands, each with its box on the right.
    makeButton(ButtonId::SelectInputFile, "SelectInputFile",
               QRect(kMargin, 282, kButtonWidth, kButtonHeight), &Form1::SelectInputFile_Click);
    makeText(TextBoxId::Text1, "Text1", QRect(kBoxLeft, 284, kRight - kBoxLeft, 24));
    makeButton(ButtonId::ConfigComPort, "ConfigComPort",
               QRect(kMargin, 318, kButtonWidth, kButtonHeight), &Form1::ConfigComPort_Click);
    makeText(TextBoxId::Text2, "Text2", QRect(kBoxLeft, 320, kRight - kBoxLeft, 24));

    // The debug log right of "Program FLASH".
    m_label3 = makeLabel("Label3", text::kDebugHeading, QRect(kBoxLeft, 352, kRight - kBoxLeft, 18),
                         Qt::AlignHCenter);
    m_list2 = new LogView(model.log(LogId::Debug), client);
    m_list2->setObjectName(QStringLiteral("List2"));
    m_list2->setGeometry(kBoxLeft, 372, kRight - kBoxLeft, 140);
    makeButton(ButtonId::ProgramFlash, "ProgramFlash",
               QRect(kMargin, 372, kButtonWidth, kButtonHeight), &Form1::ProgramFlash_Click);
    makeButton(ButtonId::ClearDebug, "ClearDebug",
               QRect(kRight - kClearWidth, 516, kClearWidth, 26), &Form1::ClearDebug_Click);

    // "Exit / Abort" at the foot of the column.
    makeButton(ButtonId::AbortProgram, "AbortProgram",
               QRect(kMargin, 574, kButtonWidth, kButtonHeight), &Form1::AbortProgram_Click);

    // The progress counters in the bottom right corner.
    const int text5Left = kRight - kCounterWidth;
    const int text4Left = text5Left - 6 - kCounterWidth;
    const int labelLeft = text4Left - 6 - 90;
    m_label4 = makeLabel("Label4", text::kRemaining, QRect(labelLeft, 548, 90, 24), Qt::AlignRight);
    makeText(TextBoxId::Text3, "Text3", QRect(text4Left, 548, kCounterWidth, 24));
    m_label5 = makeLabel("Label5", text::kCompleted, QRect(labelLeft, 578, 90, 24), Qt::AlignRight);
    makeText(TextBoxId::Text4, "Text4", QRect(text4Left, 578, kCounterWidth, 24));
    makeText(TextBoxId::Text5, "Text5", QRect(text5Left, 578, kCounterWidth, 24));
}

void MainWindow::buildMenu() {
    QMenu* menuHelp = menuBar()->addMenu(qs(text::gui::kMenuHelp));
    menuHelp->setObjectName(QStringLiteral("menuHelp"));
    m_menuHelpAbout = menuHelp->addAction(qs(text::gui::kMenuHelpAbout));
    m_menuHelpAbout->setObjectName(QStringLiteral("menuHelpAbout"));
    connect(m_menuHelpAbout, &QAction::triggered, this, [this] { menuHelpAbout_Click(); });
}

void MainWindow::setFocusOrder() {
    QWidget* order[] = {
        m_buttons[at(ButtonId::SelectInputFile)],
        m_buttons[at(ButtonId::ProgramFlash)],
        m_buttons[at(ButtonId::AbortProgram)],
        m_buttons[at(ButtonId::ConfigComPort)],
        m_texts[at(TextBoxId::Text1)],
        m_texts[at(TextBoxId::Text2)],
        m_list1,
        m_list2,
        m_buttons[at(ButtonId::ClearStatus)],
        m_buttons[at(ButtonId::ClearDebug)],
        m_texts[at(TextBoxId::Text5)],
        m_texts[at(TextBoxId::Text4)],
        m_texts[at(TextBoxId::Text3)],
    };
    for (std::size_t i = 1; i < std::size(order); ++i) {
        setTabOrder(order[i - 1], order[i]);
    }
}

QPushButton* MainWindow::button(ButtonId id) const {
    return m_buttons.at(at(id));
}

QLineEdit* MainWindow::textBox(TextBoxId id) const {
    return m_texts.at(at(id));
}

LogView* MainWindow::logView(LogId id) const {
    return id == LogId::Status ? m_list1 : m_list2;
}

QLabel* MainWindow::label(int number) const {
    switch (number) {
        case 1:
            return m_label1;
        case 3:
            return m_label3;
        case 4:
            return m_label4;
        case 5:
            return m_label5;
        default:
            return nullptr;
    }
}

AboutBox* MainWindow::aboutBox() const {
    return m_about.data();
}

// Loads the About box unless it is loaded, and brings it forward.
void MainWindow::menuHelpAbout_Click() {
    if (m_about.isNull()) {
        m_about = new AboutBox(*m_sysInfo, this);
    }
    m_about->show();
    m_about->raise();
    m_about->activateWindow();
}

// The close box and Alt+F4: "Exit / Abort" with no run on; during a run the core asks
// first. The window stays unless the core ends the process.
void MainWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    m_form.closeRequested();
}

// The focus frame shows from the start, not only after the first key press, so that a
// keyboard user sees where the focus is. Qt clears the mark when the window is shown
// or activated; it is set again each time.
void MainWindow::showFocusFrame() {
    setAttribute(Qt::WA_KeyboardFocusChange);
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    showFocusFrame();
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        showFocusFrame();
    }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    auto* b = qobject_cast<QPushButton*>(watched);
    if (b == nullptr) {
        return QMainWindow::eventFilter(watched, event);
    }
    switch (event->type()) {
        case QEvent::KeyPress: {
            // Enter presses the focused button, as Space does.
            const auto* key = static_cast<QKeyEvent*>(event);
            if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
                key->modifiers() == Qt::NoModifier) {
                if (!key->isAutoRepeat() && b->isEnabled()) {
                    b->click();
                }
                return true;
            }
            break;
        }
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
            // The second click of a double-click on "Program FLASH" would abort the run
            // the first one started, after the device was put into download mode.
            return b == m_buttons[at(ButtonId::ProgramFlash)] && withinDoubleClickOfRunStart();
        default:
            break;
    }
    return QMainWindow::eventFilter(watched, event);
}

bool MainWindow::withinDoubleClickOfRunStart() const {
    return m_runStart.isValid() &&
           m_runStart.elapsed() < QGuiApplication::styleHints()->mouseDoubleClickInterval();
}

void MainWindow::textChanged(TextBoxId box) {
    // During a download the progress boxes change at every record, thousands of times
    // a second, faster than anyone can read them. They then show their newest counts at
    // most 25 times a second: with the first post a frame or more after they last showed
    // (one paint for both), two frames after at the latest, and when the run ends.
    // Everything else shows at once.
    if (isProgressBox(box) && m_form.state().ProgramMode != 0) {
        m_progressDirty[at(box)] = true;
        if (!m_progressTimer.isActive()) {
            m_progressTimer.start(static_cast<int>(
                std::max<qint64>(0, 2 * kProgressFrameMs - msSinceProgressShown())));
        }
        return;
    }
    showText(box);
}

void MainWindow::showText(TextBoxId box) {
    QLineEdit* edit = m_texts.at(at(box));
    const QString text = QString::fromStdString(m_form.window().text(box));
    if (isProgressBox(box)) {
        static_cast<ProgressBox*>(edit)->showCount(text);
        return;
    }
    edit->setText(text);
    if (box == TextBoxId::Text1) {
        // A script path too long for the box shows its end, the file name; the whole
        // path is in the tooltip.
        edit->setCursorPosition(static_cast<int>(text.size()));
        edit->setToolTip(text);
        return;
    }
    edit->setCursorPosition(0);
}

qint64 MainWindow::msSinceProgressShown() const {
    return m_progressShown.isValid() ? m_progressShown.elapsed() : 2 * kProgressFrameMs;
}

void MainWindow::showProgress() {
    m_progressTimer.stop();
    m_progressShown.start();
    for (const auto box : {TextBoxId::Text3, TextBoxId::Text4, TextBoxId::Text5}) {
        if (m_progressDirty[at(box)]) {
            m_progressDirty[at(box)] = false;
            showText(box);
        }
    }
}

void MainWindow::buttonChanged(ButtonId id) {
    if (m_progressTimer.isActive()) {
        showProgress();  // the run's last counts, before its end shows on the buttons
    }
    const CommandButton& model = m_form.window().button(id);
    QPushButton* b = m_buttons.at(at(id));
    b->setText(QString::fromStdString(model.caption));
    b->setEnabled(model.enabled);
    if (id == ButtonId::ProgramFlash) {
        if (model.caption == text::kAbortProcess) {
            m_runStart.start();
        } else {
            m_runStart.invalidate();
        }
    }
}

void MainWindow::lineAppended(LogId log, const std::string& line, std::size_t dropped) {
    // The log paints at once, and with it everything else in the window waiting to be
    // painted: counts due to show go to the screen with the post, not in a paint of their
    // own.
    if (m_progressTimer.isActive() && msSinceProgressShown() >= kProgressFrameMs) {
        showProgress();
    }
    logView(log)->lineAppended(line, dropped);
}

void MainWindow::logCleared(LogId log) {
    logView(log)->cleared();
}

}  // namespace reburn3
