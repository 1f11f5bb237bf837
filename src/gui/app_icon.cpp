// SPDX-License-Identifier: Apache-2.0
#include "gui/app_icon.h"

#include <QPainter>
#include <QPainterPath>

namespace reburn3 {

namespace {

// Coordinates are those of the 32 x 32 drawing.
QPainterPath outerFlame() {
    QPainterPath p(QPointF(16, 7));
    p.cubicTo(20, 11, 22, 14, 21, 19);
    p.cubicTo(20.3, 23, 18.3, 25, 16, 25);
    p.cubicTo(13.7, 25, 11.7, 23, 11, 19.5);
    p.cubicTo(10.5, 16.5, 12, 14.5, 13.5, 13);
    p.cubicTo(13.5, 15, 14.3, 16.3, 15.2, 16.8);
    p.cubicTo(14.5, 13, 15, 10, 16, 7);
    p.closeSubpath();
    return p;
}

QPainterPath innerFlame() {
    QPainterPath p(QPointF(16, 15.5));
    p.cubicTo(18, 17.5, 18.8, 19.5, 18.3, 21.3);
    p.cubicTo(17.9, 22.8, 17, 23.5, 16, 23.5);
    p.cubicTo(15, 23.5, 14.1, 22.8, 13.8, 21.5);
    p.cubicTo(13.5, 20, 14.3, 18.8, 15.2, 18);
    p.cubicTo(15.2, 19, 15.6, 19.6, 16, 19.8);
    p.cubicTo(15.7, 18.4, 15.7, 17, 16, 15.5);
    p.closeSubpath();
    return p;
}

}  // namespace

QPixmap appIconPixmap(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 32.0, size / 32.0);

    // Pins.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x9a, 0xa3, 0xad));
    for (const int y : {8, 15, 22}) {
        painter.drawRect(QRectF(1, y, 4, 2));
        painter.drawRect(QRectF(27, y, 4, 2));
    }
    // Body with its pin-1 mark.
    painter.setPen(QPen(QColor(0x0b, 0x1a, 0x2e), 1));
    painter.setBrush(QColor(0x1f, 0x3a, 0x5f));
    painter.drawRoundedRect(QRectF(5, 4, 22, 24), 2, 2);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x6f, 0x8f, 0xb3));
    painter.drawEllipse(QPointF(8.5, 7.5), 1.2, 1.2);
    // Flame.
    painter.setPen(QPen(QColor(0xa8, 0x3c, 0x00), 0.8));
    painter.setBrush(QColor(0xf0, 0x7a, 0x1a));
    painter.drawPath(outerFlame());
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xff, 0xd3, 0x4d));
    painter.drawPath(innerFlame());
    return pixmap;
}

QIcon appIcon() {
    QIcon icon;
    icon.addPixmap(appIconPixmap(16));
    icon.addPixmap(appIconPixmap(32));
    // For screens that scale windows up.
    icon.addPixmap(appIconPixmap(64));
    return icon;
}

}  // namespace reburn3
