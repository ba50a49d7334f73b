// SPDX-License-Identifier: GPL-3.0-or-later
// Step 1 of the seam finder: short-time spectra of the sound mixed to mono and decimated, in
// log-spaced bands. Standard library and FFTW only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "finder/finder_options.h"
#include "finder/sound_view.h"

namespace finder {

struct Features {
    // A shape's values, -1 .. 1, are kept as whole steps of 1/127: a byte each, so an hour of
    // sound keeps its spectra in a few megabytes; the cosine of two shapes moves by well under a
    // hundredth for it.
    static constexpr float kShapeScale = 127.0F;

    std::int64_t hopFrames = 0;     // frames of the sound from one spectrum to the next
    std::int64_t windowFrames = 0;  // frames of the sound one spectrum covers
    double spectraPerSecond = 0.0;
    int bands = 0;                   // a multiple of 8; bands past the real ones stay 0
    std::vector<std::int8_t> shape;  // Count() x bands: log band energies, mean removed, unit
                                     // length, times kShapeScale
    std::vector<float> levelDb;      // loudness of each spectrum, against a fixed reference
    float loudestDb = 0.0F;

    std::size_t Count() const { return levelDb.size(); }
    const std::int8_t* Shape(std::size_t index) const {
        return shape.data() + index * static_cast<std::size_t>(bands);
    }
};

// Spectra one hop apart over the whole sound, a window at a time: memory grows with the number
// of spectra, not with the sound.
Features ComputeFeatures(const SoundView& view, const FinderOptions& options);

}  // namespace finder
