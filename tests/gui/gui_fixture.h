// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "adapters/qt_tick_timer.h"
#include "fakes/fake_serial_driver.h"
#include "gui/gui_session.h"
#include "gui/log_view.h"
#include "gui/main_window.h"
#include "gui/port_dialog_widget.h"

// Readable QStrings in test failures.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace reburn3::testing {

// Runs `answer` on the next modal dialog of type T as soon as it is open.
template <typename T>
void whenModalOpens(std::function<void(T*)> answer) {
    auto* poll = new QTimer;
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, [poll, answer] {
        if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            answer(dialog);
        }
    });
    poll->start();
}

// One desktop session over the fake driver, its end of process recorded instead of
// performed.
class GuiTest : public ::testing::Test {
protected:
    GuiTest() {
        session = std::make_unique<GuiSession>(driver);
        session->desktop().setEndAction([this] { ++endCount; });
    }
    ~GuiTest() override {
        session.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    Form1& form() { return session->form(); }
    MainWindow& win() { return session->mainWindow(); }
    PortDialogWidget& dialog() { return session->portDialog(); }
    QPushButton* button(ButtonId id) { return win().button(id); }
    QString boxText(TextBoxId id) { return win().textBox(id)->text(); }
    std::vector<QString> lines(LogId id) {
        std::vector<QString> out;
        LogView* view = win().logView(id);
        for (int i = 0; i < view->rowCount(); ++i) {
            out.push_back(view->rowText(i));
        }
        return out;
    }
    QString lastLine(LogId id) {
        LogView* view = win().logView(id);
        return view->rowCount() == 0 ? QString() : view->rowText(view->rowCount() - 1);
    }

    static void click(QAbstractButton* b) {
        ASSERT_NE(b, nullptr);
        // The left part of a button is on its face, and on an option's circle.
        QTest::mouseClick(b, Qt::LeftButton, Qt::NoModifier, QPoint(8, b->height() / 2));
    }

    std::string writeScript(const QString& name, const QByteArray& content) {
        const QString path = dir.filePath(name);
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(content);
        file.close();
        return path.toStdString();
    }

    // Clicks "Select Input File" and picks `path` in the dialog.
    void selectScript(const std::string& path) {
        whenModalOpens<QFileDialog>([path](QFileDialog* d) {
            d->selectFile(QString::fromStdString(path));
            // QFileDialog keeps accept() protected; QDialog offers it.
            static_cast<QDialog*>(d)->accept();
        });
        click(button(ButtonId::SelectInputFile));
    }

    // "Configure COM port", the option, "Initialize".
    void openPort(int index) {
        click(button(ButtonId::ConfigComPort));
        click(dialog().ComxBtn(index));
        click(dialog().initializeButton());
    }

    // The device answers the handshake and then echoes every byte it gets.
    void echoDevice() {
        driver.onByteWritten = [this](std::uint8_t b) {
            if (b == 0xE1) {
                return;
            }
            if (b == 0x94) {
                driver.receive({0x91, 0x26});
                return;
            }
            driver.receive({b});
        };
    }

    bool waitForRunEnd(int timeoutMs = 10000) {
        return QTest::qWaitFor(
            [this] {
                return form().engine().outcome() != RunOutcome::Running &&
                       form().state().ProgramMode == 0;
            },
            timeoutMs);
    }

    FakeSerialDriver driver;
    std::unique_ptr<GuiSession> session;
    int endCount = 0;
    QTemporaryDir dir;
};

}  // namespace reburn3::testing
