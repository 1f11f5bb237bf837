// SPDX-License-Identifier: Apache-2.0
#include "gui/port_dialog_widget.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>

#include "app/form1.h"
#include "base/messages.h"
#include "gui/app_icon.h"
#include "gui/fixed_layout.h"
#include "gui/gui_texts.h"

#include <algorithm>

namespace reburn3 {

namespace {

QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The dialog is designed in twips; the screen counts 15 of them to a pixel.
QRect twips(int left, int top, int width, int height) {
    constexpr int k = PortDialogWidget::kTwipsPerPixel;
    return {left / k, top / k, width / k, height / k};
}

constexpr int kClientWidth = 1680;
constexpr int kClientHeight = 4755;
constexpr int kOptionTop = 360;
constexpr int kOptionPitch = 360;

}  // namespace

PortDialogWidget::PortDialogWidget(Form1& form, DeviceNamer deviceName, QWidget* parent)
    : QDialog(parent), m_form(form), m_deviceName(std::move(deviceName)) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(qs(text::kPortDialogCaption));
    setWindowIcon(appIcon());
    setModal(false);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(kClientWidth / kTwipsPerPixel, kClientHeight / kTwipsPerPixel);

    m_initialize = new QPushButton(qs(text::kInitialize), this);
    m_initialize->setObjectName(QStringLiteral("Initialize"));
    m_initialize->setGeometry(twips(240, 3600, 1215, 375));
    m_initialize->setDefault(true);

    m_frame = new QGroupBox(qs(text::kPortFrame), this);
    m_frame->setObjectName(QStringLiteral("Frame1"));
    m_frame->setGeometry(twips(240, 120, 1215, 3255));

    m_group = new QButtonGroup(this);
    m_group->setExclusive(true);
    for (int index = 1; index <= 8; ++index) {
        const QString caption = qs(text::gui::kPortOptionPrefix) + QString::number(index) +
                                qs(text::gui::kPortOptionSuffix);
        auto* option = new QRadioButton(caption, m_frame);
        option->setObjectName(QStringLiteral("ComxBtn%1").arg(index));
        option->setGeometry(twips(120, kOptionTop + (index - 1) * kOptionPitch, 975, 255));
        m_group->addButton(option, index);
        m_options.at(static_cast<std::size_t>(index)) = option;
    }

    refreshTooltips();

    m_cancel = new QPushButton(qs(text::kCancel), this);
    m_cancel->setObjectName(QStringLiteral("Cancel1"));
    m_cancel->setGeometry(twips(240, 4200, 1215, 375));
    m_cancel->setAutoDefault(false);

    // Tab order: Initialize, the frame (COM1: to COM4:), Cancel, COM5: to COM8:.
    m_tabOrder = {m_initialize, m_options[1], m_options[2], m_options[3], m_options[4],
                  m_cancel,     m_options[5], m_options[6], m_options[7], m_options[8]};
    for (std::size_t i = 1; i < m_tabOrder.size(); ++i) {
        setTabOrder(m_tabOrder[i - 1], m_tabOrder[i]);
    }
    for (int index = 1; index <= 8; ++index) {
        ComxBtn(index)->installEventFilter(this);
    }

    // The designed geometry, scaled alike when the font needs more room.
    m_scale = captionScale(*this);
    scaleControls(*this, m_scale);
    setFixedSize(
        scaled(QSize(kClientWidth / kTwipsPerPixel, kClientHeight / kTwipsPerPixel), m_scale));

    connect(m_group, &QButtonGroup::idClicked, this,
            [this](int index) { m_form.ComxBtn_Click(static_cast<std::int16_t>(index)); });
    connect(m_initialize, &QPushButton::clicked, this, [this] { m_form.Initialize_Click(); });
    connect(m_cancel, &QPushButton::clicked, this, [this] { m_form.Cancel1_Click(); });
}

QRadioButton* PortDialogWidget::ComxBtn(int index) const {
    if (index < 1 || index > 8) {
        return nullptr;
    }
    return m_options.at(static_cast<std::size_t>(index));
}

void PortDialogWidget::selectOption(int index) {
    if (QRadioButton* option = ComxBtn(index)) {
        option->setChecked(true);
    }
}

int PortDialogWidget::selectedOption() const {
    const int id = m_group->checkedId();
    return id < 0 ? 0 : id;
}

void PortDialogWidget::refreshTooltips() {
    for (int index = 1; index <= 8; ++index) {
        const std::string device = m_deviceName ? m_deviceName(index) : std::string();
        ComxBtn(index)->setToolTip(QString::fromStdString(device));
    }
}

// The mapping may have changed since the dialog was last shown.
void PortDialogWidget::showEvent(QShowEvent* event) {
    refreshTooltips();
    QDialog::showEvent(event);
}

// Tab and Shift+Tab follow the designed order, where the option group is one stop: the
// checked option (the first, while none is checked).
bool PortDialogWidget::focusNextPrevChild(bool next) {
    std::vector<QWidget*> stops;
    for (QWidget* w : m_tabOrder) {
        auto* option = qobject_cast<QRadioButton*>(w);
        const bool groupStop =
            option != nullptr &&
            (option->isChecked() || (selectedOption() == 0 && option == ComxBtn(1)));
        if ((option == nullptr || groupStop) && w->isEnabled()) {
            stops.push_back(w);
        }
    }
    if (stops.empty()) {
        return QDialog::focusNextPrevChild(next);
    }
    // Where the focus stands in the whole order, so that an unchecked option with the
    // focus (after a click) moves on from its own place.
    QWidget* current = focusWidget();
    const auto place = [this](QWidget* w) {
        const auto it = std::find(m_tabOrder.begin(), m_tabOrder.end(), w);
        return it == m_tabOrder.end() ? -1 : static_cast<int>(it - m_tabOrder.begin());
    };
    const int here = place(current);
    QWidget* target = nullptr;
    if (next) {
        target = stops.front();
        for (QWidget* stop : stops) {
            if (place(stop) > here) {
                target = stop;
                break;
            }
        }
    } else {
        target = stops.back();
        for (auto it = stops.rbegin(); it != stops.rend(); ++it) {
            if (place(*it) < here && here >= 0) {
                target = *it;
                break;
            }
        }
    }
    target->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
}

// The arrow keys move the check along the options, and the focus with it, as an option
// group does on Windows: the option reached is clicked.
bool PortDialogWidget::eventFilter(QObject* watched, QEvent* event) {
    auto* option = qobject_cast<QRadioButton*>(watched);
    if (option == nullptr || event->type() != QEvent::KeyPress) {
        return QDialog::eventFilter(watched, event);
    }
    const int key = static_cast<QKeyEvent*>(event)->key();
    int step = 0;
    if (key == Qt::Key_Down || key == Qt::Key_Right) {
        step = 1;
    } else if (key == Qt::Key_Up || key == Qt::Key_Left) {
        step = -1;
    } else {
        return QDialog::eventFilter(watched, event);
    }
    const int index = m_group->id(option);
    const int reached = (index - 1 + step + 8) % 8 + 1;
    QRadioButton* target = ComxBtn(reached);
    target->setFocus(Qt::OtherFocusReason);
    target->click();
    return true;
}

// Esc: the same as "Cancel".
void PortDialogWidget::reject() {
    m_form.Cancel1_Click();
}

// The close box: the same as "Cancel", which hides the dialog through the desktop.
void PortDialogWidget::closeEvent(QCloseEvent* event) {
    event->ignore();
    m_form.Cancel1_Click();
}

}  // namespace reburn3
