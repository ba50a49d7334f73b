// SPDX-License-Identifier: GPL-3.0-or-later
// Rounding and the 32-bit range: the one home of half-to-even rounding and of clamping into the
// signed 32-bit fields of the format, used by the loop rules, the fade, the window's typed values
// and its bar. Standard library only.
#pragma once

#include <cfloat>
#include <cstdint>

namespace wave {

inline constexpr std::int64_t kInt32Max = 2147483647;
inline constexpr std::int64_t kInt32Min = -2147483648LL;

// Nearest whole number, halves to the even neighbour, for |value| < 2^51 only: adding
// 1.5 * 2^52 leaves no bits for a fraction, so the sum itself is rounded by the floating-point
// unit, half to even in the default mode, which nothing in the program changes. Without a
// library call or a branch, so the fade's loops over millions of samples stay vectorised.
static_assert(FLT_EVAL_METHOD == 0, "the rounding below needs doubles evaluated as doubles");
inline double RoundHalfEvenSmall(double value) {
    constexpr double kShift = 6755399441055744.0;
    return (value + kShift) - kShift;
}

// Nearest whole number, halves to the even neighbour, for every double; the sign of a zero is
// kept, and infinities and NaN come back as they are.
double RoundHalfEven(double value);

// Into the signed 32-bit range; NaN reads 0.
std::int32_t ClampToInt32(double value);
std::int32_t ClampToInt32(std::int64_t value);

}  // namespace wave
