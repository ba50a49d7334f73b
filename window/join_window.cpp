// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/join_window.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPolygonF>
#include <vector>

#include "wave/user_texts.h"

namespace window {

namespace {

QPolygonF Lane(const wave::JoinPicture& picture, const std::vector<double>& values,
               std::size_t firstIndex, double top, double height, double width) {
    QPolygonF line;
    line.reserve(static_cast<qsizetype>(values.size()));
    for (std::size_t k = 0; k < values.size(); ++k)
        line << QPointF(wave::JoinX(picture, firstIndex + k, width),
                        wave::LaneY(values[k], top, height));
    return line;
}

}  // namespace

JoinWindow::JoinWindow(QWidget* owner) : QWidget(owner, Qt::Window) {
    setWindowTitle(QString::fromUtf8(wave::kJoinWindowCaption.data(),
                                     static_cast<qsizetype>(wave::kJoinWindowCaption.size())));
    resize(480, 240);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void JoinWindow::ShowJoin(const wave::PcmFormat& format, std::span<const std::uint8_t> sound,
                          std::int32_t loopStart, std::int32_t loopEnd) {
    loopStart_ = loopStart;
    loopEnd_ = loopEnd;
    picture_ = wave::PictureOfJoin(format, sound, loopStart, loopEnd);
    update();
}

void JoinWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0xfa, 0xfa, 0xfa));
    if (picture_.joined.empty()) return;
    painter.setRenderHint(QPainter::Antialiasing);
    const double width = this->width();
    const double height = this->height() / static_cast<double>(picture_.joined.size());
    for (std::size_t c = 0; c < picture_.joined.size(); ++c) {
        const double top = height * static_cast<double>(c);
        painter.setPen(QColor(0xdd, 0xdd, 0xdd));
        painter.drawLine(QPointF(0, wave::LaneY(0.0, top, height)),
                         QPointF(width, wave::LaneY(0.0, top, height)));
        // What the sound holds after the loop end, faint beneath the join.
        painter.setPen(QColor(0x1a, 0x5f, 0xb4, 64));
        painter.drawPolyline(Lane(picture_, picture_.after[c],
                                  static_cast<std::size_t>(picture_.sideFrames), top, height,
                                  width));
        painter.setPen(QColor(0x1a, 0x5f, 0xb4));
        painter.drawPolyline(Lane(picture_, picture_.joined[c], 0, top, height, width));
    }
    const double mark = wave::JoinMarkX(picture_, width);
    painter.setPen(QPen(QColor(0xc0, 0x1c, 0x28), 1.5));
    painter.drawLine(QPointF(mark, 0), QPointF(mark, this->height()));
}

}  // namespace window
