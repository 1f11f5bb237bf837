// SPDX-License-Identifier: Apache-2.0
// A whole download through the window, clicked as an operator would, against the
// simulated ORX-716 on a pseudo-terminal mapped onto COM6.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "adapters/qt_serial_driver.h"
#include "adapters/qt_tick_timer.h"
#include "base/messages.h"
#include "gui/gui_session.h"
#include "gui/log_view.h"
#include "gui/main_window.h"
#include "gui/port_dialog_widget.h"

namespace reburn3::testing {
namespace {

QString qs(std::string_view t) {
    return QString::fromUtf8(t.data(), static_cast<qsizetype>(t.size()));
}

void click(QAbstractButton* b) {
    ASSERT_NE(b, nullptr);
    QTest::mouseClick(b, Qt::LeftButton, Qt::NoModifier, QPoint(8, b->height() / 2));
}

// Picks `path` in the file dialog as soon as it opens.
void answerFileDialog(const QString& path) {
    auto* poll = new QTimer;
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, [poll, path] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            dialog->selectFile(path);
            static_cast<QDialog*>(dialog)->accept();
        }
    });
    poll->start();
}

class GuiSimTest : public ::testing::Test {
protected:
    // Starts the simulator on `script` and maps COM6 onto its pseudo-terminal.
    bool startDevice(const QString& script, const QStringList& options = {}) {
        sim.setProgram(QStringLiteral(REBURN3_SIM_PATH));
        sim.setArguments(QStringList{script} + options);
        sim.start();
        if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000)) {
            return false;
        }
        const QByteArray path = sim.readLine().trimmed();
        if (path.isEmpty()) {
            return false;
        }
        qputenv("ORX716_COM6", path);
        return true;
    }
    ~GuiSimTest() override {
        qunsetenv("ORX716_COM6");
        if (sim.state() != QProcess::NotRunning) {
            sim.kill();
            sim.waitForFinished(5000);
        }
    }
    QProcess sim;
};

TEST_F(GuiSimTest, DownloadsTheDemoScriptThroughTheWindow) {
    const QString script = QStringLiteral(REBURN3_EXAMPLES_DIR "/orx716_demo.pf3");
    ASSERT_TRUE(startDevice(script));

    QtSerialDriver driver;
    GuiSession session(driver);
    int ended = 0;
    session.desktop().setEndAction([&ended] { ++ended; });
    session.start("");
    MainWindow& win = session.mainWindow();
    PortDialogWidget& dialog = session.portDialog();

    answerFileDialog(script);
    click(win.button(ButtonId::SelectInputFile));
    ASSERT_EQ(win.textBox(TextBoxId::Text1)->text(), script);
    const QString total = win.textBox(TextBoxId::Text3)->text();

    click(win.button(ButtonId::ConfigComPort));
    ASSERT_TRUE(dialog.isVisible());
    click(dialog.ComxBtn(6));
    click(dialog.initializeButton());
    ASSERT_EQ(win.textBox(TextBoxId::Text2)->text(), "COM6: at max rate");

    click(win.button(ButtonId::ProgramFlash));
    EXPECT_EQ(win.button(ButtonId::ProgramFlash)->text(), qs(text::kAbortProcess));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return session.form().state().ProgramMode == 0 &&
                   session.form().engine().outcome() != RunOutcome::Running;
        },
        60000));
    EXPECT_EQ(session.form().engine().outcome(), RunOutcome::Completed);
    EXPECT_EQ(win.button(ButtonId::ProgramFlash)->text(), qs(text::kProgramFlash));
    EXPECT_EQ(win.textBox(TextBoxId::Text4)->text(), total);
    EXPECT_EQ(win.textBox(TextBoxId::Text5)->text(), "100.0 %");
    LogView* status = win.logView(LogId::Status);
    bool complete = false;
    for (int i = 0; i < status->rowCount(); ++i) {
        complete = complete || status->rowText(i) == qs(text::kProcessingComplete);
    }
    EXPECT_TRUE(complete);
    EXPECT_TRUE(status->lastRowVisible());

    // The device has played its whole side.
    EXPECT_TRUE(sim.state() == QProcess::NotRunning || sim.waitForFinished(10000));
    EXPECT_EQ(sim.exitCode(), 0);

    click(win.button(ButtonId::AbortProgram));
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(status->rowText(status->rowCount() - 1), qs(text::kProgramTerminated));
    EXPECT_EQ(status->rowText(status->rowCount() - 2), qs(text::kPortClosed) + "6");
}

TEST_F(GuiSimTest, AWrongByteFromTheDeviceEndsTheRunWithItsReport) {
    // The script named on the command line, as "reburn3-gui tiny.pf3" gives it: the
    // name is taken up to the first "." of its file name and "PF3" added.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString script = dir.filePath("tiny.PF3");
    ASSERT_TRUE(QFile::copy(QStringLiteral(REBURN3_EXAMPLES_DIR "/orx716_tiny.pf3"), script));
    ASSERT_TRUE(startDevice(script, {"--wrong-byte-at", "2"}));

    QtSerialDriver driver;
    GuiSession session(driver);
    session.desktop().setEndAction([] {});
    session.start(argumentText({"reburn3-gui", dir.filePath("tiny.pf3")}).toStdString());
    MainWindow& win = session.mainWindow();
    ASSERT_EQ(win.textBox(TextBoxId::Text1)->text(), script);

    click(win.button(ButtonId::ConfigComPort));
    click(session.portDialog().initializeButton());
    click(win.button(ButtonId::ProgramFlash));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return session.form().state().ProgramMode == 0 &&
                   session.form().engine().outcome() != RunOutcome::Running;
        },
        30000));
    EXPECT_EQ(session.form().engine().outcome(), RunOutcome::DeviceFailed);
    EXPECT_EQ(win.button(ButtonId::ProgramFlash)->text(), qs(text::kProgramFlash));
    EXPECT_TRUE(win.button(ButtonId::SelectInputFile)->isEnabled());
    LogView* debug = win.logView(LogId::Debug);
    bool reported = false;
    for (int i = 0; i < debug->rowCount(); ++i) {
        reported = reported || debug->rowText(i).startsWith(qs(text::kExpected));
    }
    EXPECT_TRUE(reported);
}

}  // namespace
}  // namespace reburn3::testing
