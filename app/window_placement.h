// SPDX-License-Identifier: GPL-3.0-or-later
// Where the window's second window goes: beside the main one, on the screen. Plain numbers in
// the screen's pixels, so tests try any screen without one. No Qt.
#pragma once

namespace wavemisc {

// A rectangle on the desktop, in pixels: its top-left corner and its size.
struct ScreenRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

struct ScreenPoint {
    int x = 0;
    int y = 0;
};

// The top-left corner of a window whose frame is `width` x `height`, beside `main` (the main
// window's frame) within `screen` (the screen's area for windows): `gap` pixels to the right of
// it where the whole window fits there, else as far to the left, else overlapping it as far
// right as the screen allows. Its top is main's, raised as far as the screen's bottom needs.
// Never left of or above the screen; a window larger than the screen keeps its top-left corner
// on it.
ScreenPoint PlaceBeside(const ScreenRect& main, int width, int height, const ScreenRect& screen,
                        int gap);

}  // namespace wavemisc
