// The fade-out of the looped file's tail. Kept apart so it can be tuned without touching the rest.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>

#include "sound/wave_core.h"

namespace wavemisc {

namespace {

// The gain of unit i of n: b^(i/n) worked out in double, then kept as the nearest float, which is
// the precision the curve has always had.
double Gain(double base, std::size_t i, std::size_t n) {
    const double x = static_cast<double>(i) / static_cast<double>(n);
    return static_cast<double>(static_cast<float>(std::pow(base, x)));
}

}  // namespace

void ApplyFade(std::span<std::uint8_t> tail, std::int16_t bitsPerSample) {
    if (bitsPerSample == 8) {
        // The stored unsigned byte itself is scaled, so a silent tail sinks from 128 toward 0.
        const std::size_t n = tail.size();
        for (std::size_t i = 0; i < n; ++i) {
            const double p = static_cast<double>(tail[i]) * Gain(0.01, i, n);
            tail[i] = static_cast<std::uint8_t>(std::nearbyint(p));  // halves to even
        }
        return;
    }
    // Signed 16-bit little-endian samples; an odd last byte is left as it is.
    const std::size_t n = tail.size() / 2;
    for (std::size_t i = 0; i < n; ++i) {
        std::uint8_t* s = tail.data() + 2 * i;
        const auto v = static_cast<std::int16_t>(static_cast<std::uint16_t>(s[0] | s[1] << 8));
        const double p = static_cast<double>(v) * Gain(0.0001, i, n);
        const auto u = static_cast<std::uint16_t>(static_cast<std::int16_t>(std::nearbyint(p)));
        s[0] = static_cast<std::uint8_t>(u & 0xFFu);
        s[1] = static_cast<std::uint8_t>(u >> 8);
    }
}

}  // namespace wavemisc
