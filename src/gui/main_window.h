// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <array>
#include <memory>

#include "base/window_model.h"

class QAction;
class QLabel;
class QLineEdit;
class QPushButton;

namespace reburn3 {

class AboutBox;
class Form1;
class LogView;
class SysInfoPlatform;

// The main window (Form1) on screen. It shows the core's window model as it changes
// and hands every click to the core procedure of the same name; it decides nothing
// about a download itself. Fixed size; the close box acts as "Exit / Abort", and asks
// first during a run. Enter presses the focused button, as Space does.
class MainWindow : public QMainWindow, private WindowListener {
    Q_OBJECT
public:
    explicit MainWindow(Form1& form, QWidget* parent = nullptr);
    ~MainWindow() override;

    QPushButton* button(ButtonId id) const;
    QLineEdit* textBox(TextBoxId id) const;
    LogView* logView(LogId id) const;
    QLabel* label(int number) const;  // Label1, Label3, Label4, Label5
    QAction* aboutAction() const { return m_menuHelpAbout; }
    // The About box while it is loaded, else nullptr.
    AboutBox* aboutBox() const;

    void menuHelpAbout_Click();

    // The factor the designed geometry was scaled by to fit the font (1 at 96 DPI).
    double layoutScale() const { return m_scale; }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void textChanged(TextBoxId box) override;
    void buttonChanged(ButtonId id) override;
    void lineAppended(LogId log, const std::string& line, std::size_t dropped) override;
    void logCleared(LogId log) override;

    void showText(TextBoxId box);
    void showProgress();
    qint64 msSinceProgressShown() const;
    void buildControls();
    void buildMenu();
    void setFocusOrder();
    bool withinDoubleClickOfRunStart() const;
    void showFocusFrame();
    void fitToFont();

    Form1& m_form;
    std::array<QPushButton*, 6> m_buttons{};
    std::array<QLineEdit*, 5> m_texts{};
    std::array<bool, 5> m_progressDirty{};
    QTimer m_progressTimer;         // runs while counts wait to show: the latest they show
    QElapsedTimer m_progressShown;  // since the counts last showed
    LogView* m_list1 = nullptr;
    LogView* m_list2 = nullptr;
    QLabel* m_label1 = nullptr;
    QLabel* m_label3 = nullptr;
    QLabel* m_label4 = nullptr;
    QLabel* m_label5 = nullptr;
    QAction* m_menuHelpAbout = nullptr;
    QPointer<AboutBox> m_about;
    std::unique_ptr<SysInfoPlatform> m_sysInfo;
    QElapsedTimer m_runStart;  // since "Program FLASH" became "Abort Process"
    double m_scale = 1.0;
};

}  // namespace reburn3
