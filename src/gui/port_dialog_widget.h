// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QDialog>
#include <array>
#include <functional>
#include <string>
#include <vector>

class QButtonGroup;
class QGroupBox;
class QPushButton;
class QRadioButton;

namespace reburn3 {

class Form1;

// The port selection dialog (Form2): eight option buttons COM1: to COM8: in the frame
// "Port", then "Initialize" and "Cancel". It keeps nothing of its own: every click goes
// to the main window object's handler of the same name. Modeless; Enter presses
// "Initialize", and Esc and the close box act as "Cancel". Tab follows the designed
// order with the option group as one stop (its checked option), and the arrow keys
// move the check.
class PortDialogWidget : public QDialog {
    Q_OBJECT
public:
    // Names the device behind a port number on this machine, for the option's tooltip.
    using DeviceNamer = std::function<std::string(int port)>;

    static constexpr int kTwipsPerPixel = 15;

    PortDialogWidget(Form1& form, DeviceNamer deviceName, QWidget* parent = nullptr);

    // The option button of this index, 1 to 8 (ComxBtn(index)); nullptr outside.
    QRadioButton* ComxBtn(int index) const;
    QPushButton* initializeButton() const { return m_initialize; }
    QPushButton* cancelButton() const { return m_cancel; }
    QGroupBox* frame() const { return m_frame; }

    // Selects option `index` by program; nothing is forwarded.
    void selectOption(int index);
    // The selected option's index, or 0.
    int selectedOption() const;

    void reject() override;
    // Names each option's device in its tooltip, as the machine maps it now.
    void refreshTooltips();

    // The factor the designed geometry was scaled by to fit the font (1 at 96 DPI).
    double layoutScale() const { return m_scale; }

protected:
    bool focusNextPrevChild(bool next) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    Form1& m_form;
    DeviceNamer m_deviceName;
    QGroupBox* m_frame;
    QButtonGroup* m_group;
    std::array<QRadioButton*, 9> m_options{};  // index 0 unused
    QPushButton* m_initialize;
    QPushButton* m_cancel;
    std::vector<QWidget*> m_tabOrder;
    double m_scale = 1.0;
};

}  // namespace reburn3
