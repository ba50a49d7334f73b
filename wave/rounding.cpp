// SPDX-License-Identifier: GPL-3.0-or-later
#include "wave/rounding.h"

#include <cmath>

namespace wave {

double RoundHalfEven(double value) {
    const double magnitude = std::fabs(value);
    if (magnitude < 0x1p51) return std::copysign(RoundHalfEvenSmall(value), value);
    // From 2^52 on every double is whole; between 2^51 and 2^52 a fraction can only be a half.
    if (!(magnitude < 0x1p52)) return value;
    const double floor = std::floor(value);
    const double fraction = value - floor;
    if (fraction != 0.5) return fraction < 0.5 ? floor : floor + 1.0;
    return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
}

std::int32_t ClampToInt32(double value) {
    if (std::isnan(value)) return 0;
    if (value >= static_cast<double>(kInt32Max)) return static_cast<std::int32_t>(kInt32Max);
    if (value <= static_cast<double>(kInt32Min)) return static_cast<std::int32_t>(kInt32Min);
    return static_cast<std::int32_t>(value);
}

std::int32_t ClampToInt32(std::int64_t value) {
    if (value > kInt32Max) return static_cast<std::int32_t>(kInt32Max);
    if (value < kInt32Min) return static_cast<std::int32_t>(kInt32Min);
    return static_cast<std::int32_t>(value);
}

}  // namespace wave
