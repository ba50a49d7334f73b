// SPDX-License-Identifier: GPL-3.0-or-later
// Small looped music with a known loop, for the seam finder's tests: an intro, then the same
// notes every `loopFrames` frames until the sound ends. Deterministic: a fixed pseudo-random
// sequence picks the notes.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "tests/support/wave_bytes.h"

namespace testwave {

struct LoopedMusic {
    Format format = Pcm(16, 2, 11025);
    std::uint32_t introFrames = 0;
    std::uint32_t loopFrames = 0;
    std::uint32_t totalFrames = 0;
    double ringSeconds = 0.3;  // decay of each note; notes ring on into the next pass
    bool ringAcross = true;    // false: notes stop at the end of their pass or intro
    double steadyHz = 0.0;     // a tone held through each pass, under the notes
    double noteEverySeconds = 0.25;
    double restSeconds = 0.0;  // each section opens with this much rest, as many tracks do
    // Degradations as users' rips have them: white noise this far below the music's RMS (hiss,
    // or at about -25 dB the codec noise that makes two passes of a lossy file differ), and
    // dither of one step before the samples are rounded.
    double noiseDb = -1000.0;
    bool dither = false;
};

// An intro, `passes` passes of the loop and a second of one more, in seconds.
inline LoopedMusic MusicOf(Format format, double introSeconds, double loopSeconds, int passes = 2) {
    LoopedMusic m;
    m.format = format;
    m.introFrames = static_cast<std::uint32_t>(introSeconds * format.rate);
    m.loopFrames = static_cast<std::uint32_t>(loopSeconds * format.rate);
    m.totalFrames = m.introFrames + static_cast<std::uint32_t>(passes) * m.loopFrames + format.rate;
    return m;
}

namespace detail {

struct Random {
    std::uint32_t state;
    double Next() {  // 0 .. 1
        state = state * 1664525u + 1013904223u;
        return (state >> 8) / 16777216.0;
    }
};

// Adds the notes of one section (seeded by `seed`) from frame `at`, `length` frames long.
inline void AddSection(const LoopedMusic& m, std::uint32_t seed, std::int64_t at,
                       std::int64_t length, std::vector<double>& left, std::vector<double>& right) {
    const double rate = m.format.rate;
    const auto total = static_cast<std::int64_t>(left.size());
    const std::int64_t sectionEnd = m.ringAcross ? total : std::min(total, at + length);
    Random random{seed};
    const auto step = static_cast<std::int64_t>(m.noteEverySeconds * rate);
    for (auto onset = static_cast<std::int64_t>(m.restSeconds * rate); onset < length;
         onset += step) {
        const double hz = 110.0 * std::pow(2.0, std::floor(random.Next() * 24.0) / 12.0);
        const double pan = random.Next();
        const bool noise = random.Next() < 0.2;
        Random hiss{seed + static_cast<std::uint32_t>(onset)};
        const auto ring = static_cast<std::int64_t>(m.ringSeconds * 5.0 * rate);
        for (std::int64_t t = 0; t < ring && at + onset + t < sectionEnd; ++t) {
            const double time = t / rate;
            const double envelope = std::exp(-time / m.ringSeconds) * std::min(1.0, time / 0.002);
            const double tone = noise ? hiss.Next() * 2.0 - 1.0
                                      : std::sin(2.0 * std::numbers::pi * hz * time) +
                                            0.3 * std::sin(4.0 * std::numbers::pi * hz * time);
            const auto f = static_cast<std::size_t>(at + onset + t);
            left[f] += 0.25 * envelope * tone * (1.0 - pan);
            right[f] += 0.25 * envelope * tone * pan;
        }
    }
    if (m.steadyHz > 0.0) {
        for (std::int64_t t = 0; t < length && at + t < total; ++t) {
            const double tone =
                0.3 * std::sin(2.0 * std::numbers::pi * m.steadyHz * static_cast<double>(t) / rate);
            left[static_cast<std::size_t>(at + t)] += tone;
            right[static_cast<std::size_t>(at + t)] += tone;
        }
    }
}

}  // namespace detail

// The bytes of left and right in the format of `m`, with its noise and dither.
inline Bytes Quantised(const LoopedMusic& m, const std::vector<double>& left,
                       const std::vector<double>& right) {
    const std::size_t frames = left.size();
    double power = 0.0;
    for (std::size_t f = 0; f < frames; ++f) power += left[f] * left[f] + right[f] * right[f];
    const double noise = std::sqrt(power / (2.0 * std::max<std::size_t>(1, frames))) *
                         std::pow(10.0, m.noiseDb / 20.0) *
                         std::sqrt(3.0);  // uniform: RMS a/sqrt 3
    const double step = m.format.bits == 8 ? 1.0 / 127.0 : 1.0 / 32767.0;
    detail::Random random{12345};
    Bytes out;
    for (std::size_t f = 0; f < frames; ++f) {
        const double mono = (left[f] + right[f]) / 2.0;
        for (std::uint32_t c = 0; c < m.format.channels; ++c) {
            double v = m.format.channels == 1 ? mono : c == 0 ? left[f] : right[f];
            v += noise * (2.0 * random.Next() - 1.0);
            if (m.dither) v += step * (random.Next() - random.Next());
            v = std::clamp(v, -1.0, 1.0);
            if (m.format.bits == 8) {
                out.push_back(static_cast<std::uint8_t>(std::lround(v * 127.0) + 128));
            } else {
                PutU16(out, static_cast<std::uint16_t>(
                                static_cast<std::int16_t>(std::lround(v * 32767.0))));
            }
        }
    }
    return out;
}

// The sample bytes of `m` in its format.
inline Bytes RenderLoopedMusic(const LoopedMusic& m) {
    std::vector<double> left(m.totalFrames, 0.0);
    std::vector<double> right(m.totalFrames, 0.0);
    if (m.introFrames > 0) detail::AddSection(m, 7, 0, m.introFrames, left, right);
    for (std::int64_t at = m.introFrames; at < m.totalFrames; at += m.loopFrames)
        detail::AddSection(m, 99, at, m.loopFrames, left, right);
    return Quantised(m, left, right);
}

// The forms a file that plays its loop once comes in, as games ship them: it ends where the loop
// ends.
enum class Shipped {
    WholeFile,  // the loop alone, its start holding the tails of the pass before
    Pickup,     // an intro that is the loop's last introFrames, then one pass
    Intro,      // an intro of other notes, then one pass whose start holds the tails of the pass
                // before as well as the intro's
};

// The sample bytes of `m` (its intro and loop; totalFrames is not read) in the shipped form.
inline Bytes RenderShippedMusic(const LoopedMusic& m, Shipped form) {
    const std::int64_t loop = m.loopFrames;
    const std::int64_t intro = form == Shipped::WholeFile ? 0 : m.introFrames;
    // Two passes, the second from `loop` on; the file is cut from them.
    std::vector<double> left(static_cast<std::size_t>(2 * loop), 0.0);
    std::vector<double> right(left.size(), 0.0);
    detail::AddSection(m, 99, 0, loop, left, right);
    detail::AddSection(m, 99, loop, loop, left, right);
    const std::int64_t from = form == Shipped::Pickup ? loop - intro : loop;
    std::vector<double> fileLeft(static_cast<std::size_t>(intro + loop), 0.0);
    std::vector<double> fileRight(fileLeft.size(), 0.0);
    const std::int64_t into = form == Shipped::Pickup ? 0 : intro;
    for (std::int64_t f = from; f < 2 * loop; ++f) {
        fileLeft[static_cast<std::size_t>(into + f - from)] = left[static_cast<std::size_t>(f)];
        fileRight[static_cast<std::size_t>(into + f - from)] = right[static_cast<std::size_t>(f)];
    }
    if (form == Shipped::Intro) detail::AddSection(m, 7, 0, intro, fileLeft, fileRight);
    return Quantised(m, fileLeft, fileRight);
}

// Bytes of white noise, the same every time: a sound with no loop in it.
inline Bytes Noise(std::size_t size) {
    Bytes out(size);
    detail::Random random{1};
    for (std::uint8_t& b : out) b = static_cast<std::uint8_t>(random.Next() * 256.0);
    return out;
}

}  // namespace testwave
