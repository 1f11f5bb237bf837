// SPDX-License-Identifier: Apache-2.0
#include "gui/progress_box.h"

#include <QApplication>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleOptionFrame>

namespace reburn3 {

// The application's style, except that a progress box's frame comes from its picture.
// One for all boxes, living as long as the application: a widget does not own its style
// and still looks at it while it is destroyed.
class FramePictureStyle : public QProxyStyle {
public:
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        const auto* box = qobject_cast<const ProgressBox*>(widget);
        if (element == PE_PanelLineEdit && box != nullptr && option != nullptr &&
            painter != nullptr && box->drawFramePicture(*baseStyle(), *option, *painter)) {
            return;
        }
        QProxyStyle::drawPrimitive(element, option, painter, widget);
    }

    static FramePictureStyle* shared() {
        static QPointer<FramePictureStyle> style;
        if (style.isNull()) {
            style = new FramePictureStyle;
            style->setParent(QCoreApplication::instance());
        }
        return style;
    }
};

ProgressBox::ProgressBox(QWidget* parent) : QLineEdit(parent) {
    setStyle(FramePictureStyle::shared());
}

void ProgressBox::showCount(const QString& text) {
    if (text == this->text()) {
        return;
    }
    setText(text);
    setCursorPosition(0);
}

std::optional<QColor> ProgressBox::colourUnder() const {
    // Plain widgets paint nothing: the colour is the one of the first widget up the
    // chain that fills its background, the window at the latest.
    for (const QWidget* w = parentWidget(); w != nullptr; w = w->parentWidget()) {
        const bool plain = w->metaObject() == &QWidget::staticMetaObject &&
                           !w->testAttribute(Qt::WA_StyledBackground);
        if (!w->autoFillBackground() && !w->isWindow()) {
            if (!plain) {
                return std::nullopt;  // it may paint under the box
            }
            continue;
        }
        const QBrush& brush = w->palette().brush(w->backgroundRole());
        if (brush.style() != Qt::SolidPattern || brush.color().alpha() != 255 ||
            w->testAttribute(Qt::WA_TranslucentBackground)) {
            return std::nullopt;
        }
        return brush.color();
    }
    return std::nullopt;
}

bool ProgressBox::drawFramePicture(const QStyle& style, const QStyleOption& option,
                                   QPainter& painter) const {
    const auto* frame = qstyleoption_cast<const QStyleOptionFrame*>(&option);
    const std::optional<QColor> under = colourUnder();
    if (frame == nullptr || !under || painter.device() == nullptr) {
        return false;
    }
    const qreal ratio = painter.device()->devicePixelRatio();
    const PictureKey key{option.rect.size(),
                         ratio,
                         static_cast<int>(option.state),
                         frame->lineWidth,
                         frame->midLineWidth,
                         static_cast<int>(frame->features),
                         option.palette.cacheKey(),
                         static_cast<int>(option.direction),
                         under->rgba(),
                         &style};
    if (m_picture.isNull() || !(key == m_pictureKey)) {
        // The frame as the style draws it over what the window paints under the box, so
        // that its antialiased edges blend with the same colour.
        QImage picture((QSizeF(option.rect.size()) * ratio).toSize(),
                       QImage::Format_ARGB32_Premultiplied);
        picture.setDevicePixelRatio(ratio);
        picture.fill(*under);
        QStyleOptionFrame atOrigin(*frame);
        atOrigin.rect.moveTopLeft(QPoint(0, 0));
        QPainter onPicture(&picture);
        style.drawPrimitive(QStyle::PE_PanelLineEdit, &atOrigin, &onPicture, this);
        onPicture.end();
        m_picture = picture;
        m_pictureKey = key;
        ++m_picturesMade;
    }
    painter.drawImage(option.rect.topLeft(), m_picture);
    return true;
}

}  // namespace reburn3
