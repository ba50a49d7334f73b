// SPDX-License-Identifier: GPL-3.0-or-later
// The second window, captioned "継ぎ目": the picture of the join of the loop that is set, the
// same picture the report page draws, painted from the core's geometry. The main window owns it
// and hands it every change of the loop.
#pragma once

#include <QWidget>
#include <cstdint>
#include <span>

#include "wave/join_picture.h"
#include "wave/pcm_format.h"

namespace window {

class JoinWindow : public QWidget {
    Q_OBJECT

public:
    explicit JoinWindow(QWidget* owner);

    // The join of loopStart .. loopEnd of `sound`; an empty picture for no sound.
    void ShowJoin(const wave::PcmFormat& format, std::span<const std::uint8_t> sound,
                  std::int32_t loopStart, std::int32_t loopEnd);

    std::int32_t LoopStart() const { return loopStart_; }
    std::int32_t LoopEnd() const { return loopEnd_; }
    const wave::JoinPicture& Picture() const { return picture_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    wave::JoinPicture picture_;
    std::int32_t loopStart_ = 0;
    std::int32_t loopEnd_ = 0;
};

}  // namespace window
