// SPDX-License-Identifier: Apache-2.0
// The port selection dialog: its design, and its flows through the core.
#include <QGroupBox>
#include <QRadioButton>

#include "base/messages.h"
#include "gui_fixture.h"
#include "serial/port_map.h"

namespace reburn3::testing {
namespace {

QString qs(std::string_view t) {
    return QString::fromUtf8(t.data(), static_cast<qsizetype>(t.size()));
}

using PortDialogTest = GuiTest;

TEST_F(PortDialogTest, IsBuiltFromItsTwipsDesign) {
    session->start("");
    EXPECT_EQ(dialog().windowTitle(), "      COM Port");
    EXPECT_EQ(dialog().minimumSize(), dialog().maximumSize());
    EXPECT_EQ(dialog().size(), QSize(112, 317));
    EXPECT_FALSE(dialog().isModal());
    EXPECT_EQ(dialog().initializeButton()->text(), qs(text::kInitialize));
    EXPECT_EQ(dialog().initializeButton()->geometry(), QRect(16, 240, 81, 25));
    EXPECT_EQ(dialog().cancelButton()->text(), qs(text::kCancel));
    EXPECT_EQ(dialog().cancelButton()->geometry(), QRect(16, 280, 81, 25));
    EXPECT_EQ(dialog().frame()->title(), qs(text::kPortFrame));
    EXPECT_EQ(dialog().frame()->geometry(), QRect(16, 8, 81, 217));
    for (int i = 1; i <= 8; ++i) {
        QRadioButton* option = dialog().ComxBtn(i);
        ASSERT_NE(option, nullptr);
        EXPECT_EQ(option->text(), QStringLiteral("COM%1:").arg(i));
        EXPECT_EQ(option->parentWidget(), dialog().frame());
        EXPECT_EQ(option->geometry(), QRect(8, 24 * i, 65, 17));
    }
    EXPECT_EQ(dialog().ComxBtn(0), nullptr);
    EXPECT_EQ(dialog().ComxBtn(9), nullptr);
}

TEST_F(PortDialogTest, TabsInTheDesignedOrder) {
    session->start("");
    QWidget* expected[] = {dialog().initializeButton(), dialog().ComxBtn(1),
                           dialog().ComxBtn(2),         dialog().ComxBtn(3),
                           dialog().ComxBtn(4),         dialog().cancelButton(),
                           dialog().ComxBtn(5),         dialog().ComxBtn(6),
                           dialog().ComxBtn(7),         dialog().ComxBtn(8)};
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
    }
}

TEST_F(PortDialogTest, OptionTooltipsNameTheMappedDeviceWhenShown) {
    session->start("");
    qputenv("ORX716_COM5", "/dev/pts/77");
    click(button(ButtonId::ConfigComPort));
    qunsetenv("ORX716_COM5");
    EXPECT_EQ(dialog().ComxBtn(5)->toolTip(), "/dev/pts/77 (set by ORX716_COM5)");
    EXPECT_EQ(dialog().ComxBtn(1)->toolTip(), QString::fromStdString(portDevice(1)));
}

TEST_F(PortDialogTest, ConfigureShowsItWithThePortInForce) {
    session->start("");
    click(button(ButtonId::ConfigComPort));
    EXPECT_TRUE(dialog().isVisible());
    EXPECT_EQ(dialog().selectedOption(), 6);
    // The main window stays usable.
    EXPECT_TRUE(button(ButtonId::SelectInputFile)->isEnabled());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(PortDialogTest, OptionClickChoosesThePortAndCancelKeepsIt) {
    session->start("");
    click(button(ButtonId::ConfigComPort));
    click(dialog().ComxBtn(3));
    EXPECT_EQ(form().state().ComPort, 3);
    EXPECT_EQ(win().logView(LogId::Status)->rowCount(), 0);
    EXPECT_EQ(driver.count("InitializePort"), 0);
    click(dialog().cancelButton());
    EXPECT_FALSE(dialog().isVisible());
    EXPECT_EQ(form().state().ComPort, 3);
    EXPECT_EQ(lastLine(LogId::Status), qs(text::kCommsCancelled));
    EXPECT_TRUE(boxText(TextBoxId::Text2).isEmpty());
    EXPECT_FALSE(session->tickTimer().isActive());
    // Shown again, it still shows the port last clicked.
    click(button(ButtonId::ConfigComPort));
    EXPECT_EQ(dialog().selectedOption(), 3);
}

TEST_F(PortDialogTest, InitializeOpensThePortAndHides) {
    session->start("");
    openPort(7);
    EXPECT_FALSE(dialog().isVisible());
    EXPECT_EQ(boxText(TextBoxId::Text2), "COM7: at max rate");
    EXPECT_TRUE(session->tickTimer().isActive());
    // Configure again: the port is closed, Text2 emptied, the same option shown.
    click(button(ButtonId::ConfigComPort));
    EXPECT_TRUE(dialog().isVisible());
    EXPECT_EQ(dialog().selectedOption(), 7);
    EXPECT_TRUE(boxText(TextBoxId::Text2).isEmpty());
    EXPECT_EQ(lastLine(LogId::Status), qs(text::kPortClosed) + "7");
    EXPECT_FALSE(session->tickTimer().isActive());
}

TEST_F(PortDialogTest, InitializeHidesEvenWhenThePortWillNotOpen) {
    driver.failWith("InitializePort", 10);
    session->start("");
    click(button(ButtonId::ConfigComPort));
    // Enter presses "Initialize", the dialog's default button.
    QTest::keyClick(&dialog(), Qt::Key_Return);
    EXPECT_EQ(driver.count("InitializePort"), 1);
    EXPECT_FALSE(dialog().isVisible());
    EXPECT_TRUE(boxText(TextBoxId::Text2).isEmpty());
    EXPECT_FALSE(session->tickTimer().isActive());
    EXPECT_GT(win().logView(LogId::Debug)->rowCount(), 0);
}

TEST_F(PortDialogTest, CloseBoxAndEscapeActAsCancel) {
    session->start("");
    click(button(ButtonId::ConfigComPort));
    dialog().close();
    EXPECT_FALSE(dialog().isVisible());
    EXPECT_EQ(lines(LogId::Status), std::vector<QString>{qs(text::kCommsCancelled)});

    click(button(ButtonId::ConfigComPort));
    QTest::keyClick(&dialog(), Qt::Key_Escape);
    EXPECT_FALSE(dialog().isVisible());
    EXPECT_EQ(win().logView(LogId::Status)->rowCount(), 2);
    EXPECT_EQ(lastLine(LogId::Status), qs(text::kCommsCancelled));
    EXPECT_EQ(driver.count("InitializePort"), 0);
}

}  // namespace
}  // namespace reburn3::testing
