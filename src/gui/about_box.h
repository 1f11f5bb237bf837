// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QDialog>
#include <memory>

#include "gui/sys_info.h"

class QLabel;
class QPushButton;
class QFrame;

namespace reburn3 {

// The desktop's side of "System Info...": the registry where there is one (Windows),
// file lookup, program start and the message box.
class QtSysInfoPlatform final : public SysInfoPlatform {
public:
    explicit QtSysInfoPlatform(QWidget* messageParent = nullptr);
    ~QtSysInfoPlatform() override;

    Registry& registry() override { return *m_registry; }
    bool fileExists(const std::string& path) override;
    bool startProgram(const std::string& path) override;
    void showMessage(const std::string& text) override;

private:
    QWidget* m_messageParent;
    std::unique_ptr<Registry> m_registry;
};

// The About box (frmAbout): the application's title, version and purpose, a credit,
// and a button that starts the system-information program. Modeless; "OK", Enter and
// Esc remove it (it is deleted and loaded afresh next time).
class AboutBox : public QDialog {
    Q_OBJECT
public:
    AboutBox(SysInfoPlatform& platform, QWidget* parent = nullptr);

    QLabel* picIcon() const { return m_picIcon; }
    QLabel* lblTitle() const { return m_lblTitle; }
    QLabel* lblVersion() const { return m_lblVersion; }
    QLabel* lblDescription() const { return m_lblDescription; }
    QLabel* lblDisclaimer() const { return m_lblDisclaimer; }
    QPushButton* cmdOK() const { return m_cmdOK; }
    QPushButton* cmdSysInfo() const { return m_cmdSysInfo; }

    void Form_Load();
    void cmdOK_Click();
    void cmdSysInfo_Click();

private:
    SysInfoPlatform& m_platform;
    QLabel* m_picIcon;
    QLabel* m_lblTitle;
    QLabel* m_lblVersion;
    QLabel* m_lblDescription;
    QFrame* m_line1;
    QLabel* m_lblDisclaimer;
    QPushButton* m_cmdOK;
    QPushButton* m_cmdSysInfo;
};

}  // namespace reburn3
