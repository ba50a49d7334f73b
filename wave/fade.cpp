// SPDX-License-Identifier: GPL-3.0-or-later
// The curve is defined one unit at a time: gain i of n is the float nearest to std::pow(b, i / n)
// worked out in double, and the product is rounded half to even. A 30-second stereo tail has
// 2.6 million units, and one pow each costs far more than the rest of the save, so the gains are
// formed as a product of two pow values instead, and pow is called per unit only where that
// product could round to a different float. The result is bit for bit the per-unit one.
#include "wave/fade.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>

#include "wave/rounding.h"

namespace wave {

namespace {

// The gain exactly as the curve defines it.
float ExactGain(double base, std::size_t i, std::size_t n) {
    return static_cast<float>(std::pow(base, static_cast<double>(i) / static_cast<double>(n)));
}

constexpr std::size_t kBlock = 256;

// How close (in units in the last place of the double) a value may come to a point halfway
// between two floats before the fast gain is not trusted. The fast gain is anchor * step with
// anchor = pow(b, a / n) and step = pow(b, k / n). Relative errors, in units of 2^-52: pow is
// within 1 of its exact result; the quotient is within 1/2, which |ln b| <= 9.22 turns into at
// most 4.61 in the power. So each factor is within 5.61 of b^(a/n) or b^(k/n), their rounded
// product within 11.72 of b^((a+k)/n), and the per-unit pow within 5.61 of the same: the two
// lie within 17.3 of each other, at most 35 ulps within one binade. No halfway point lies
// between them unless the fast value is that close to one; the guard leaves a wide margin.
// About one unit in 260000 falls inside it and takes the per-unit pow.
constexpr std::uint64_t kGuardUlps = 1024;

// A double rounds to float by dropping its 29 lowest mantissa bits; the halfway point between
// two floats is where those bits read 1000...0. (Every gain lies in [0.0001, 1], all normal.)
// Branch-free, so the block loop below vectorises: low - (halfway - guard) wraps to a huge value
// below the guard band.
bool NearFloatHalfway(double value) {
    constexpr std::uint64_t kDropped = (std::uint64_t{1} << 29) - 1;
    constexpr std::uint64_t kHalfway = std::uint64_t{1} << 28;
    const std::uint64_t low = std::bit_cast<std::uint64_t>(value) & kDropped;
    return low - (kHalfway - kGuardUlps) <= 2 * kGuardUlps;
}

// The gains of units 0..n-1, one block at a time.
class GainCurve {
public:
    GainCurve(double base, std::size_t n) : base_(base), n_(n) {
        for (std::size_t k = 0; k < kBlock; ++k)
            steps_[k] = std::pow(base, static_cast<double>(k) / static_cast<double>(n));
    }

    // gains[k] = the gain of unit first + k, for k < count <= kBlock.
    void Fill(std::size_t first, std::size_t count, float* gains) const {
        const double anchor = std::pow(base_, static_cast<double>(first) / static_cast<double>(n_));
        std::uint32_t doubtful = 0;
        for (std::size_t k = 0; k < count; ++k) {
            const double g = anchor * steps_[k];
            gains[k] = static_cast<float>(g);
            doubtful |= static_cast<std::uint32_t>(NearFloatHalfway(g));
        }
        if (doubtful == 0) return;
        for (std::size_t k = 0; k < count; ++k) {
            if (NearFloatHalfway(anchor * steps_[k])) gains[k] = ExactGain(base_, first + k, n_);
        }
    }

private:
    double base_;
    std::size_t n_;
    std::array<double, kBlock> steps_{};
};

// Calls apply(first, count, gains) for consecutive blocks covering units 0..n-1.
template <typename Apply>
void ForEachGainBlock(double base, std::size_t n, Apply apply) {
    std::array<float, kBlock> gains{};
    if (n <= 2 * kBlock) {
        // Too short to pay for the step table.
        for (std::size_t first = 0; first < n; first += kBlock) {
            const std::size_t count = std::min(kBlock, n - first);
            for (std::size_t k = 0; k < count; ++k) gains[k] = ExactGain(base, first + k, n);
            apply(first, count, gains.data());
        }
        return;
    }
    const GainCurve curve(base, n);
    for (std::size_t first = 0; first < n; first += kBlock) {
        const std::size_t count = std::min(kBlock, n - first);
        curve.Fill(first, count, gains.data());
        apply(first, count, gains.data());
    }
}

}  // namespace

void FadeGains(double base, std::span<float> gains) {
    ForEachGainBlock(
        base, gains.size(), [gains](std::size_t first, std::size_t count, const float* block) {
            std::copy_n(block, count, gains.begin() + static_cast<std::ptrdiff_t>(first));
        });
}

void ApplyFade(std::span<std::uint8_t> tail, std::int16_t bitsPerSample) {
    if (bitsPerSample == 8) {
        // The stored unsigned byte itself is scaled, so a silent tail sinks from 128 toward 0.
        std::uint8_t* bytes = tail.data();
        ForEachGainBlock(
            0.01, tail.size(), [bytes](std::size_t first, std::size_t count, const float* gains) {
                std::uint8_t* b = bytes + first;
                for (std::size_t k = 0; k < count; ++k) {
                    const double p = static_cast<double>(b[k]) * static_cast<double>(gains[k]);
                    b[k] = static_cast<std::uint8_t>(RoundHalfEvenSmall(p));
                }
            });
        return;
    }
    // Signed 16-bit little-endian samples; an odd last byte is left as it is.
    std::uint8_t* bytes = tail.data();
    ForEachGainBlock(
        0.0001, tail.size() / 2, [bytes](std::size_t first, std::size_t count, const float* gains) {
            std::uint8_t* s = bytes + 2 * first;
            for (std::size_t k = 0; k < count; ++k) {
                const auto u = static_cast<std::uint16_t>(s[2 * k] | s[2 * k + 1] << 8);
                const auto v = static_cast<std::int16_t>(u);
                const double p = static_cast<double>(v) * static_cast<double>(gains[k]);
                const auto r =
                    static_cast<std::uint16_t>(static_cast<std::int16_t>(RoundHalfEvenSmall(p)));
                s[2 * k] = static_cast<std::uint8_t>(r & 0xFFu);
                s[2 * k + 1] = static_cast<std::uint8_t>(r >> 8);
            }
        });
}

void ApplyFadeWide(std::span<std::int32_t> tail, int bits) {
    const int shift = 32 - bits;
    std::int32_t* samples = tail.data();
    ForEachGainBlock(0.0001, tail.size(),
                     [samples, shift](std::size_t first, std::size_t count, const float* gains) {
                         std::int32_t* s = samples + first;
                         for (std::size_t k = 0; k < count; ++k) {
                             const double p =
                                 static_cast<double>(s[k] >> shift) * static_cast<double>(gains[k]);
                             const auto faded = static_cast<std::int64_t>(RoundHalfEvenSmall(p));
                             s[k] = static_cast<std::int32_t>(faded * (std::int64_t{1} << shift));
                         }
                     });
}

}  // namespace wave
