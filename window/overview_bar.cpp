// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/overview_bar.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>

namespace window {
namespace {

// Only 0..1 is visible; keeping far-off ratios near it spares the painter huge coordinates
// (a cursor left of the sound lies at -HalfWindow frames) without changing what shows.
float Visible(float ratio) { return std::clamp(ratio, -1.0F, 2.0F); }

}  // namespace

OverviewBar::OverviewBar(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(2);
    // Clicking the bar takes the focus, so a value typed into a loop box is applied first.
    setFocusPolicy(Qt::ClickFocus);
}

void OverviewBar::Draw(float loopStart, float loopEnd, float cursor) {
    hasScale_ = true;
    loopStart_ = Visible(loopStart);
    loopEnd_ = Visible(loopEnd);
    cursor_ = Visible(cursor);
    update();
}

void OverviewBar::DrawBackground() {
    hasScale_ = false;
    update();
}

int OverviewBar::ButtonCode(Qt::MouseButton button) {
    switch (button) {
        case Qt::LeftButton: return 1;
        case Qt::RightButton: return 2;
        case Qt::MiddleButton: return 4;
        default: return 0;
    }
}

int OverviewBar::ButtonSum(Qt::MouseButtons buttons) {
    int sum = 0;
    if (buttons & Qt::LeftButton) sum += 1;
    if (buttons & Qt::RightButton) sum += 2;
    if (buttons & Qt::MiddleButton) sum += 4;
    return sum;
}

void OverviewBar::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);  // the sunken border
    QPainter p(this);
    const QRect area = contentsRect();
    p.setClipRect(area);
    p.fillRect(area, Qt::white);
    if (!hasScale_ || area.isEmpty()) return;

    p.translate(area.topLeft());
    p.scale(area.width(), area.height());
    p.fillRect(QRectF(QPointF(loopStart_, 0.0), QPointF(loopEnd_, 1.0)).normalized(),
               QColor(208, 208, 208));
    QPen cursorPen(QColor(0, 0, 255));
    cursorPen.setCosmetic(true);  // stays 1 px wide after scaling
    p.setPen(cursorPen);
    p.drawLine(QPointF(cursor_, 0.0), QPointF(cursor_, 1.0));
}

float OverviewBar::ScaleX(const QMouseEvent* event) const {
    const QRect area = contentsRect();
    if (area.width() <= 0) return 0.0F;
    return static_cast<float>((event->position().x() - area.left()) / area.width());
}

void OverviewBar::mousePressEvent(QMouseEvent* event) {
    const int button = ButtonCode(event->button());
    if (button != 0) emit MouseDown(button, ScaleX(event));
    event->accept();
}

void OverviewBar::mouseMoveEvent(QMouseEvent* event) {
    const int buttons = ButtonSum(event->buttons());
    if (buttons != 0) emit MouseMove(buttons, ScaleX(event));
    event->accept();
}

}  // namespace window
