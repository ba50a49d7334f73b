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
    std::int64_t hopFrames = 0;     // frames of the sound from one spectrum to the next
    std::int64_t windowFrames = 0;  // frames of the sound one spectrum covers
    double spectraPerSecond = 0.0;
    int bands = 0;               // a multiple of 8; bands past the real ones stay 0
    std::vector<float> shape;    // Count() x bands: log band energies, mean removed, unit length
    std::vector<float> levelDb;  // loudness of each spectrum, against a fixed reference
    float loudestDb = 0.0F;

    std::size_t Count() const { return levelDb.size(); }
    const float* Shape(std::size_t index) const {
        return shape.data() + index * static_cast<std::size_t>(bands);
    }
};

// Spectra one hop apart over the whole sound, a window at a time: memory grows with the number
// of spectra, not with the sound.
Features ComputeFeatures(const SoundView& view, const FinderOptions& options);

}  // namespace finder
