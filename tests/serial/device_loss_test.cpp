// SPDX-License-Identifier: Apache-2.0
// A serial device that goes away, and the window system's close command during a run.
#include <algorithm>

#include "support/test_fixture.h"

#include "base/messages.h"

namespace reburn3::testing {
namespace {

const std::string kGone =
    "The serial device /dev/fake6 went away (unplugged or closed); the port has been closed.";

// Plays a script of one T byte, its echo and a line mark per line, with a device that
// echoes every byte once it has answered the handshake.
class DeviceLossTest : public CoreTest {
protected:
    void SetUp() override {
        startWithScript(scriptOf("T11 R11 E T22 R22 E T33 R33 E"));
        driver.onByteWritten = [this](std::uint8_t b) {
            if (b == 0x94) {
                driver.receive({0x91, 0x26});
            } else if (b != 0xE1) {
                driver.receive({b});
            }
        };
    }
    bool anyDebugLineStartsWith(std::string_view prefix) const {
        return std::any_of(debug().begin(), debug().end(),
                           [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
    }
    std::size_t debugCount(const std::string& line) const {
        return static_cast<std::size_t>(std::count(debug().begin(), debug().end(), line));
    }
    // The device is back: the port is opened again and a whole download completes.
    void reopenAndDownload() {
        driver.plugIn();
        const std::size_t debugBefore = debug().size();
        const auto sentBefore = static_cast<std::ptrdiff_t>(driver.written().size());
        openPort();
        EXPECT_EQ(S.PortOpen, kTrue);
        EXPECT_EQ(textOf(TextBoxId::Text2), "COM6: at max rate");
        EXPECT_EQ(status().back(), "COM port initialized and opened.");
        // Nothing of the lost port is left over: no close error, no error code at all.
        EXPECT_EQ(debug().size(), debugBefore);
        form.ProgramFlash_Click();
        runToEnd(1000);
        EXPECT_EQ(form.engine().outcome(), RunOutcome::Completed);
        EXPECT_EQ(status().back(), std::string(text::kProcessingComplete));
        const std::vector<std::uint8_t> sent(driver.written().begin() + sentBefore,
                                             driver.written().end());
        EXPECT_EQ(sent, (std::vector<std::uint8_t>{0xE1, 0x94, 0x11, 0x22, 0x33}));
    }
};

TEST_F(DeviceLossTest, BetweenRunsItIsSaidOnceAndThePortOpensAgainWhenTheDeviceIsBack) {
    driver.loseDevice();
    EXPECT_TRUE(form.portLost());
    EXPECT_FALSE(form.portLost());  // the driver's second report of the same loss
    EXPECT_EQ(debugCount(kGone), 1U);
    EXPECT_EQ(debug().back(), kGone);
    EXPECT_EQ(textOf(TextBoxId::Text2), "");
    EXPECT_EQ(S.PortOpen, kFalse);
    EXPECT_EQ(S.LastError, 0);
    EXPECT_FALSE(form.window().timerEnabled());

    // "Program FLASH" now says what is missing instead of failing on a dead port.
    form.ProgramFlash_Click();
    EXPECT_EQ(debug().back(), std::string(text::kPortNotInitialized));
    EXPECT_EQ(S.ProgramMode, 0);

    reopenAndDownload();
}

TEST_F(DeviceLossTest, MidRunTheRunEndsAsLostAndTheNextRunCompletes) {
    form.ProgramFlash_Click();
    ticks(4);  // the handshake and the first byte are out
    ASSERT_NE(S.ProgramMode, 0);
    driver.loseDevice();
    EXPECT_TRUE(form.portLost());
    EXPECT_EQ(S.PortOpen, kFalse);
    // The run keeps its ticks so that it can end; it never ends as complete.
    EXPECT_TRUE(form.window().timerEnabled());
    runToEnd(1000);
    EXPECT_EQ(form.engine().outcome(), RunOutcome::DeviceLost);
    EXPECT_FALSE(statusHas(std::string(text::kProcessingComplete)));
    EXPECT_EQ(button(ButtonId::ProgramFlash).caption, std::string(text::kProgramFlash));
    EXPECT_EQ(debugCount(kGone), 1U);

    reopenAndDownload();
}

TEST_F(DeviceLossTest, AReadThatFindsNothingOrAFailedWriteIsNoLoss) {
    driver.failWith("FlushReceiveBuffer", 20);
    EXPECT_FALSE(form.portLost());
    EXPECT_EQ(S.PortOpen, kTrue);
    EXPECT_EQ(textOf(TextBoxId::Text2), "COM6: at max rate");
    EXPECT_FALSE(anyDebugLineStartsWith(text::kDeviceLostPrefix));
}

class CloseRequestTest : public DeviceLossTest {};

TEST_F(CloseRequestTest, WithNoRunOnItIsExitAbort) {
    form.closeRequested();
    EXPECT_TRUE(desktop.questions.empty());
    EXPECT_TRUE(desktop.ended);
    EXPECT_EQ(status().back(), std::string(text::kProgramTerminated));
}

TEST_F(CloseRequestTest, DuringARunNoKeepsTheRunAndYesAbortsItCleanlyThenExits) {
    form.ProgramFlash_Click();
    ticks(3);
    form.closeRequested();
    ASSERT_EQ(desktop.questions,
              std::vector<std::string>{std::string(text::kAbortAndExitQuestion)});
    EXPECT_FALSE(desktop.ended);
    EXPECT_NE(S.ProgramMode, 0);
    EXPECT_EQ(S.PortOpen, kTrue);

    desktop.yes = true;
    form.closeRequested();
    EXPECT_TRUE(desktop.ended);
    EXPECT_EQ(form.engine().outcome(), RunOutcome::Aborted);
    std::vector<std::string> tail(status().end() - 9, status().end());
    std::vector<std::string> expected = closingLines();
    expected.insert(expected.end(),
                    {std::string(text::kInputFileClosed), std::string(text::kPortClosed) + "6",
                     std::string(text::kProgramTerminated)});
    EXPECT_EQ(tail, expected);
    EXPECT_EQ(S.PortOpen, kFalse);
    EXPECT_FALSE(form.script().isOpen());
}

TEST_F(CloseRequestTest, ARunThatEndsWhileTheQuestionIsOpenIsNotStoppedTwice) {
    form.ProgramFlash_Click();
    desktop.yes = true;
    desktop.onQuestion = [this] { runToEnd(1000); };
    form.closeRequested();
    EXPECT_TRUE(desktop.ended);
    EXPECT_EQ(form.engine().outcome(), RunOutcome::Completed);
    EXPECT_EQ(statusCount(std::string(text::kClosing1)), 1U);
}

}  // namespace
}  // namespace reburn3::testing
