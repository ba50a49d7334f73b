// SPDX-License-Identifier: GPL-3.0-or-later
// The fade as its rules state it, one std::pow per unit: the yardstick the fast fade is held
// against by the tests, the fuzzers and the benchmark.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>

namespace testwave {

// The float nearest to base^(i/n), computed in double.
inline float DefinedGain(double base, std::size_t i, std::size_t n) {
    return static_cast<float>(std::pow(base, static_cast<double>(i) / static_cast<double>(n)));
}

// 8-bit: each stored byte times 0.01^(i/n). Otherwise each signed 16-bit sample times
// 0.0001^(i/n). Products in double, rounded half to even.
inline void ReferenceFade(std::span<std::uint8_t> tail, int bits) {
    if (bits == 8) {
        for (std::size_t i = 0; i < tail.size(); ++i) {
            const double p = tail[i] * static_cast<double>(DefinedGain(0.01, i, tail.size()));
            tail[i] = static_cast<std::uint8_t>(std::nearbyint(p));
        }
        return;
    }
    const std::size_t n = tail.size() / 2;
    for (std::size_t i = 0; i < n; ++i) {
        const auto v = static_cast<std::int16_t>(
            static_cast<std::uint16_t>(tail[2 * i] | tail[2 * i + 1] << 8));
        const double p = v * static_cast<double>(DefinedGain(0.0001, i, n));
        const auto u = static_cast<std::uint16_t>(static_cast<std::int16_t>(std::nearbyint(p)));
        tail[2 * i] = static_cast<std::uint8_t>(u & 0xFFu);
        tail[2 * i + 1] = static_cast<std::uint8_t>(u >> 8);
    }
}

}  // namespace testwave
