// SPDX-License-Identifier: Apache-2.0
#include "gui/fixed_layout.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>

#include <cmath>
#include <vector>

namespace reburn3 {

namespace {

constexpr double kStep = 0.05;
constexpr double kLargestScale = 4.0;
constexpr const char* kDesigned = "designedGeometry";

// A caption as drawn: the "&" of an access key is no character on screen.
QString shownText(QString text) {
    text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QLatin1Char('\x01'), QLatin1Char('&'));
    return text;
}

// The width the style asks for around the caption; in height the text line must fit,
// the margins the style would like need not (buttons keep their designed height).
bool pushButtonFits(const QPushButton& button, QSize size) {
    return button.sizeHint().width() <= size.width() &&
           button.fontMetrics().height() <= size.height();
}

bool labelFits(const QLabel& label, QSize size) {
    if (label.text().isEmpty()) {
        return true;
    }
    if (label.wordWrap()) {
        return label.heightForWidth(size.width()) <= size.height();
    }
    const QSize need = label.sizeHint();
    return need.width() <= size.width() && need.height() <= size.height();
}

std::vector<QWidget*> controlsOf(QWidget& window) {
    std::vector<QWidget*> controls;
    for (QWidget* child : window.findChildren<QWidget*>()) {
        const QString name = child->objectName();
        if (!name.isEmpty() && !name.startsWith(QLatin1String("qt_")) && !child->isWindow()) {
            controls.push_back(child);
        }
    }
    return controls;
}

QRect designedGeometry(QWidget& control) {
    const QVariant stored = control.property(kDesigned);
    if (stored.isValid()) {
        return stored.toRect();
    }
    control.setProperty(kDesigned, control.geometry());
    return control.geometry();
}

}  // namespace

QRect scaled(QRect designed, double factor) {
    const auto at = [factor](int v) { return static_cast<int>(std::lround(v * factor)); };
    return {at(designed.x()), at(designed.y()), at(designed.width()), at(designed.height())};
}

QSize scaled(QSize designed, double factor) {
    return scaled(QRect(QPoint(0, 0), designed), factor).size();
}

bool captionFits(const QWidget& widget, QSize size) {
    if (const auto* button = qobject_cast<const QPushButton*>(&widget)) {
        return pushButtonFits(*button, size);
    }
    if (qobject_cast<const QRadioButton*>(&widget) || qobject_cast<const QCheckBox*>(&widget)) {
        // The indicator, its spacing and the text side by side; the text is centred
        // upright, so only its own height must fit.
        return widget.sizeHint().width() <= size.width() &&
               widget.fontMetrics().height() <= size.height();
    }
    if (const auto* label = qobject_cast<const QLabel*>(&widget)) {
        return labelFits(*label, size);
    }
    if (const auto* frame = qobject_cast<const QGroupBox*>(&widget)) {
        const QFontMetrics metrics = frame->fontMetrics();
        return metrics.horizontalAdvance(shownText(frame->title())) +
                   2 * metrics.averageCharWidth() <=
               size.width();
    }
    if (qobject_cast<const QLineEdit*>(&widget)) {
        return widget.fontMetrics().height() + 4 <= size.height();
    }
    return true;
}

bool captionFits(const QWidget& widget) {
    return captionFits(widget, widget.size());
}

double captionScale(QWidget& window) {
    const std::vector<QWidget*> controls = controlsOf(window);
    for (QWidget* control : controls) {
        (void)designedGeometry(*control);
    }
    double factor = 1.0;
    for (int step = 0; factor < kLargestScale; ++step) {
        factor = 1.0 + step * kStep;
        bool all = true;
        for (QWidget* control : controls) {
            if (!captionFits(*control, scaled(designedGeometry(*control), factor).size())) {
                all = false;
                break;
            }
        }
        if (all) {
            break;
        }
    }
    return factor;
}

void scaleControls(QWidget& window, double factor) {
    for (QWidget* control : controlsOf(window)) {
        control->setGeometry(scaled(designedGeometry(*control), factor));
    }
}

}  // namespace reburn3
