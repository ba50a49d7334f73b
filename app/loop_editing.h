// SPDX-License-Identifier: GPL-3.0-or-later
// The window's loop editing without the window: the nudge steps, reading a typed frame number,
// the time text of a frame and the bar's coordinates. Plain functions over plain numbers, so
// tests call them directly; the loop rules they feed are the wave layer's (wave/loop_rules.h).
// The window's own logic, so it keeps the window's namespace; no Qt.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace wavemisc {

inline constexpr int kNudgeButtons = 20;
inline constexpr int kNudgeRows = 5;

// Row of a nudge button: 1 frame, 10 frames, 0.1 s, 1 s, 10 s.
int NudgeRow(int index);
// Frames one press of the button moves its point, signed: "<" (even index) steps back.
std::int64_t NudgeStep(int index, std::int32_t samplesPerSec);
// Buttons 0..9 move the loop start, 10..19 the loop end.
bool NudgeMovesStart(int index);

// The number a typed text begins with, read the classic way: blanks, tabs and line feeds are
// ignored wherever they stand; sign, digits, one point, exponent; &H / &O integers; 0 when the
// text does not begin with a number. Out-of-range exponents give +-infinity or 0.
double ReadNumber(std::string_view text);
// ReadNumber rounded to a whole frame (halves to even) and clamped into 32 bits.
std::int32_t ReadFrameNumber(std::string_view text);

// "m:ss.sss" for a frame at the given rate, in the single-precision steps the display has
// always taken. "" for a rate below 1, which no loaded sound has.
std::string TimeText(std::int32_t frame, std::int32_t samplesPerSec);

// The frame under x on the bar (0 left edge, 1 right edge), halves to even, clamped into 32 bits.
std::int32_t FrameAtBar(float x, std::int32_t lastFrame);
// Where a frame stands on the bar; lastFrame must not be 0.
float BarRatio(std::int32_t frame, std::int32_t lastFrame);

}  // namespace wavemisc
