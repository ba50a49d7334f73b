// SPDX-License-Identifier: GPL-3.0-or-later
// The fade-out of the looped file's tail, and the gain curve behind it, exposed so tests can hold
// every gain against its per-unit definition. Standard library only.
#pragma once

#include <cstdint>
#include <span>

namespace wave {

// Fades `tail` in place: unit i of n gets the float nearest to b^(i/n), product rounded half to
// even. 8-bit: each stored byte, b = 0.01. Otherwise: each signed 16-bit sample, b = 0.0001.
void ApplyFade(std::span<std::uint8_t> tail, std::int16_t bitsPerSample);

// The same curve over samples wider than 16 bits, each holding its `bits` in the high bits of
// an int32 (as libsndfile gives them): b = 0.0001 per sample, the product of the sample's value
// rounded half to even.
void ApplyFadeWide(std::span<std::int32_t> tail, int bits);

// gains[i] = the float nearest to std::pow(base, double(i) / double(n)), n = gains.size(), the
// same values ApplyFade multiplies by.
void FadeGains(double base, std::span<float> gains);

}  // namespace wave
