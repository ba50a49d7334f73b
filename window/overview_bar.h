// SPDX-License-Identifier: GPL-3.0-or-later
// Picture1, the overview bar: a sunken strip whose inner area is scaled 0..1 across and 0..1
// down. It paints what the window last told it (the loop box and the cursor line, as ratios of
// the whole sound) and reports mouse presses and drags in the same scale. It knows nothing of
// frames or of the loaded sound.
#pragma once

#include <QFrame>

class QMouseEvent;
class QPaintEvent;

namespace window {

class OverviewBar : public QFrame {
    Q_OBJECT

public:
    explicit OverviewBar(QWidget* parent = nullptr);

    // The loop box from x = loopStart to x = loopEnd and the cursor line at x = cursor, all in
    // the 0..1 scale, then a repaint.
    void Draw(float loopStart, float loopEnd, float cursor);
    // Background only: the sound has no width to scale to.
    void DrawBackground();

    // 1 left, 2 right, 4 middle.
    static int ButtonCode(Qt::MouseButton button);
    static int ButtonSum(Qt::MouseButtons buttons);

signals:
    // The button that went down, and x in the 0..1 scale.
    void MouseDown(int button, float x);
    // The sum of the buttons held (never 0), and x in the 0..1 scale.
    void MouseMove(int buttons, float x);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    float ScaleX(const QMouseEvent* event) const;

    bool hasScale_ = false;
    float loopStart_ = 0.0F;
    float loopEnd_ = 0.0F;
    float cursor_ = 0.0F;
};

}  // namespace window
