// SPDX-License-Identifier: Apache-2.0
// The About box: its content, one instance at a time, and System Info.
#include <QAction>
#include <QLabel>
#include <QMessageBox>
#include <iostream>

#include "base/messages.h"
#include "gui/about_box.h"
#include "gui_fixture.h"

namespace reburn3::testing {
namespace {

class AboutBoxTest : public GuiTest {
protected:
    AboutBox* openAbout() {
        win().aboutAction()->trigger();
        return win().aboutBox();
    }
    static void flushDeletes() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
};

TEST_F(AboutBoxTest, ShowsTitleVersionDescriptionAndCredit) {
    session->start("");
    AboutBox* about = openAbout();
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(about->isVisible());
    EXPECT_FALSE(about->isModal());
    EXPECT_EQ(about->windowTitle(), "About ORX-716_reBURN3");
    EXPECT_EQ(about->lblTitle()->text(), "ORX-716_reBURN3");
    EXPECT_EQ(about->lblVersion()->text(), "Version 1.0.0");
    EXPECT_EQ(about->lblDescription()->text(),
              "Used to reBURN the operational firmware of an ORX-716 interface device using "
              "BURN3 mode.");
    EXPECT_EQ(about->lblDisclaimer()->text().count('\n'), 4);
    EXPECT_FALSE(about->picIcon()->pixmap().isNull());
    EXPECT_EQ(about->cmdOK()->text(), "OK");
    EXPECT_TRUE(about->cmdOK()->isDefault());
    EXPECT_EQ(about->cmdSysInfo()->text(), "&System Info...");
    EXPECT_EQ(about->minimumSize(), about->maximumSize());
    EXPECT_EQ(about->focusWidget(), about->cmdOK());
    EXPECT_EQ(about->cmdOK()->nextInFocusChain(), about->picIcon());
    EXPECT_EQ(about->picIcon()->nextInFocusChain(), about->cmdSysInfo());
    // The main window stays usable.
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(AboutBoxTest, ASecondChoiceBringsTheSameBoxForward) {
    session->start("");
    AboutBox* first = openAbout();
    AboutBox* second = openAbout();
    EXPECT_EQ(first, second);
    EXPECT_EQ(win().findChildren<AboutBox*>().size(), 1);
}

TEST_F(AboutBoxTest, OkAndEscapeUnloadItAndTheNextChoiceLoadsItAfresh) {
    session->start("");
    AboutBox* about = openAbout();
    click(about->cmdOK());
    flushDeletes();
    EXPECT_EQ(win().aboutBox(), nullptr);
    EXPECT_TRUE(win().findChildren<AboutBox*>().isEmpty());

    about = openAbout();
    ASSERT_NE(about, nullptr);
    QTest::keyClick(about, Qt::Key_Escape);
    flushDeletes();
    EXPECT_EQ(win().aboutBox(), nullptr);

    about = openAbout();
    ASSERT_NE(about, nullptr);
    QTest::keyClick(about->cmdOK(), Qt::Key_Return);
    flushDeletes();
    EXPECT_EQ(win().aboutBox(), nullptr);
}

TEST_F(AboutBoxTest, SystemInfoOnThisDesktopShowsTheMessageBox) {
    session->start("");
    AboutBox* about = openAbout();
    QString shown;
    QString title;
    whenModalOpens<QMessageBox>([&](QMessageBox* box) {
        shown = box->text();
        title = box->windowTitle();
        box->accept();
    });
    click(about->cmdSysInfo());
    EXPECT_EQ(shown, "System Information Is Unavailable At This Time");
    EXPECT_EQ(title, "ORX-716_reBURN3");
}

}  // namespace
}  // namespace reburn3::testing

namespace reburn3::testing {
namespace {

// Every caption fits the place the design gives it, in the font in use.
std::vector<QString> clippedCaptions(QWidget* root) {
    std::vector<QString> clipped;
    for (QLabel* label : root->findChildren<QLabel*>()) {
        const QSize room = label->size();
        const bool fits = label->wordWrap() ? label->heightForWidth(room.width()) <= room.height()
                                            : label->sizeHint().width() <= room.width() + 1 &&
                                                  label->sizeHint().height() <= room.height() + 1;
        if (!fits) {
            clipped.push_back(label->objectName() + ": " + label->text());
        }
    }
    for (QAbstractButton* b : root->findChildren<QAbstractButton*>()) {
        // Buttons keep their designed height: the text line must fit it, the margins
        // the style would like around it need not.
        if (b->sizeHint().width() > b->width() + 1 || b->fontMetrics().height() > b->height()) {
            clipped.push_back(b->objectName() + ": " + b->text());
        }
    }
    return clipped;
}

using CaptionTest = GuiTest;

TEST_F(CaptionTest, NoCaptionIsCutOff) {
    session->start("");
    // The longest caption of "Program FLASH".
    form().window().setCaption(ButtonId::ProgramFlash, "Abort Process");
    win().aboutAction()->trigger();
    EXPECT_EQ(clippedCaptions(&win()), std::vector<QString>{});
    EXPECT_EQ(clippedCaptions(&dialog()), std::vector<QString>{});
    ASSERT_NE(win().aboutBox(), nullptr);
    EXPECT_EQ(clippedCaptions(win().aboutBox()), std::vector<QString>{});

    // One factor for the whole window, so the proportions hold; none at 96 DPI, where
    // the geometry is the designed one.
    const double factor = win().layoutScale();
    const int dpi = win().logicalDpiY();
    std::cout << "[ report   ] font DPI " << dpi << ": main window scaled by " << factor
              << ", port dialog by " << dialog().layoutScale() << "\n";
    if (dpi <= 96) {
        EXPECT_EQ(factor, 1.0);
        EXPECT_EQ(dialog().layoutScale(), 1.0);
    }
    const QRect list1 = win().logView(LogId::Status)->geometry();
    const QRect exitButton = win().button(ButtonId::AbortProgram)->geometry();
    EXPECT_NEAR(list1.width() / factor, 624, 1);
    EXPECT_NEAR(exitButton.top() / factor, 574, 1);
    EXPECT_NEAR(dialog().ComxBtn(8)->geometry().top() / dialog().layoutScale(), 192, 1);
}

}  // namespace
}  // namespace reburn3::testing
