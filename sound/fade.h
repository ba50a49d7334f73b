// The gain curve behind ApplyFade (wave_core.h), exposed so tests can hold every gain against its
// per-unit definition. Standard library only.
#pragma once

#include <span>

namespace wavemisc {

// gains[i] = the float nearest to std::pow(base, double(i) / double(n)), n = gains.size(), the
// same values ApplyFade multiplies by.
void FadeGains(double base, std::span<float> gains);

}  // namespace wavemisc
