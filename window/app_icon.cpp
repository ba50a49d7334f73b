// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/app_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace window {

namespace {

// rundelt.svg, drawn in its own 48 x 48 units: a rounded square, a ring that runs back to where
// it began with its arrowhead, and a wave inside it.
void PaintIcon(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x24, 0x54, 0x7e));
    p.drawRoundedRect(QRectF(2, 2, 44, 44), 9, 9);

    const QColor gold(0xff, 0xc8, 0x57);
    QPen ring(gold, 3.6, Qt::SolidLine, Qt::RoundCap);
    p.setPen(ring);
    p.setBrush(Qt::NoBrush);
    QPainterPath arc;
    arc.arcMoveTo(QRectF(9, 9, 30, 30), 45.0);
    arc.arcTo(QRectF(9, 9, 30, 30), 45.0, 311.2);  // the large arc round to (39, 25)
    p.drawPath(arc);

    p.setPen(Qt::NoPen);
    p.setBrush(gold);
    const QPointF head[] = {{39, 15.5}, {44.6, 24.5}, {33.4, 24.5}};
    p.drawPolygon(head, 3);

    QPainterPath wave(QPointF(13, 24));
    wave.cubicTo(15, 15, 18, 15, 20, 24);
    wave.cubicTo(22, 33, 25, 33, 27, 24);
    wave.cubicTo(29, 15, 32, 15, 34, 24);
    p.setPen(QPen(Qt::white, 2.8, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(wave);
}

}  // namespace

QIcon AppIcon() {
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.scale(size / 48.0, size / 48.0);
        PaintIcon(painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace window
