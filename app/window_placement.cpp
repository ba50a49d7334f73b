// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/window_placement.h"

#include <algorithm>
#include <cstdint>

namespace wavemisc {

namespace {

// `wanted`, moved so that `size` from it stays within `from` .. `to`, but never before `from`.
std::int64_t Within(std::int64_t wanted, std::int64_t size, std::int64_t from, std::int64_t to) {
    return std::max(from, std::min(wanted, to - size));
}

}  // namespace

ScreenPoint PlaceBeside(const ScreenRect& main, int width, int height, const ScreenRect& screen,
                        int gap) {
    // Wide: a screen at the far end of the 32-bit range plus a window's width must not wrap.
    const std::int64_t screenLeft = screen.left;
    const std::int64_t screenRight = screenLeft + screen.width;
    const std::int64_t right = std::int64_t{main.left} + main.width + gap;
    const std::int64_t left = std::int64_t{main.left} - gap - width;
    std::int64_t x = 0;
    if (right >= screenLeft && right + width <= screenRight) {
        x = right;
    } else if (left >= screenLeft && left + width <= screenRight) {
        x = left;
    } else {
        x = Within(right, width, screenLeft, screenRight);
    }
    const std::int64_t y =
        Within(main.top, height, screen.top, std::int64_t{screen.top} + screen.height);
    return ScreenPoint{static_cast<int>(x), static_cast<int>(y)};
}

}  // namespace wavemisc
