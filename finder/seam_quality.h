// SPDX-License-Identifier: GPL-3.0-or-later
// Step 5 of the seam finder: how clean a join is, in dB, how two joins rank, and what counts as
// clean for the material at hand. Standard library only.
//
// What counts as clean adapts to the material. Two passes of a decoded lossy file, a dithered
// 8-bit rip or a hissy recording never agree to the last bit, so a fixed mark would call every
// join of them poor. The finder first measures how closely the material's passes agree where
// they repeat (RepetitionFloorDb: the median error of short windows over the repeated stretch)
// and then judges against that floor (MarksFor): the passes agree where the error stays within
// agreeMarginDb of the floor, a seam passes within passMarginDb of what the repetition itself
// reaches, and is as good as transparent within transparentMarginDb of it. Each mark is never
// stricter than its fixed value in the options, so clean material is judged as before, and never
// looser than its loosest value, for at a lag where the sound does not repeat the floor says
// nothing.
#pragma once

#include <cstdint>

#include "finder/finder_options.h"
#include "finder/sound_view.h"

namespace finder {

struct Seam {
    double qualityDb = 0.0;
    bool transparent = false;     // at or above the transparent mark, or within rounding noise
    bool withinRounding = false;  // the two sides differ by no more than the rounding noise
};

// Over the frames [from, to), all channels: the energy of the sound `lag` frames later, and that of
// its difference from the sound now.
struct LagSums {
    double energy = 0.0;
    double difference = 0.0;
};
LagSums SumsAtLag(const SoundView& view, std::int64_t lag, std::int64_t from, std::int64_t to);

// The marks a material is judged by.
struct SeamMarks {
    double agreeErrorDb = -20.0;  // two windows agree where their error is below this
    double passQualityDb = 20.0;  // a seam at or above this passes
    double transparentDb = 40.0;  // and above this it ranks equal with a perfect one
};

// The options' own marks, for material of unknown floor.
SeamMarks FixedMarks(const FinderOptions& options);
// Whether a seam is transparent by the options' own marks, whatever the material's floor: where
// the finder looks for the cleanest start, seams of lossy material must still be told apart.
bool TransparentByFixedMarks(const Seam& seam, const FinderOptions& options);

// How closely the sound agrees with itself `lag` frames later over [first, end): the median of
// the errors 10 log10((D + e) / (E + e)) of agreeWindowSeconds windows (as MeasureSeam's sums)
// in floorChunks chunks spread over the stretch, counting only windows well above the rounding
// noise. Very low (kNoFloorDb) where there is nothing to measure.
double RepetitionFloorDb(const SoundView& view, std::int64_t lag, std::int64_t first,
                         std::int64_t end, const FinderOptions& options);
inline constexpr double kNoFloorDb = -300.0;

// The share of a loop of `lag` frames from `start` over which the second pass agrees with the
// first: of floorChunks chunks spread over the loop (as far as the sound holds its second pass),
// those whose error, as RepetitionFloorDb's, is at or below marks.agreeErrorDb. Chunks near the
// rounding noise are not counted; 0 where no chunk is left.
double AgreeingShare(const SoundView& view, std::int64_t lag, std::int64_t start,
                     const SeamMarks& marks, const FinderOptions& options);

// The marks for a material whose passes agree to floorDb.
SeamMarks MarksFor(double floorDb, const FinderOptions& options);

// The seam quality: how closely what the listener hears after the join (the frames from
// `start`) matches what the sound itself does after `end`, over all channels:
//     qualityDb = 10 log10((E + e) / (D + e)),
//     E = sum of x[end + t]^2,   D = sum of (x[start + t] - x[end + t])^2,   t < n, all channels,
// samples scaled to -1 .. 1 and n = qualitySeconds of frames. Where fewer than n frames follow
// `end`, the n frames before `start` and before `end` are compared instead (and where neither
// fits, the frames that do follow `end`). e is the energy of the format's own rounding noise
// over the same samples (one step squared over 12 each), so two identical passes score the
// sound's signal-to-rounding-noise ratio and silence scores 0 dB.
Seam MeasureSeam(const SoundView& view, std::int64_t start, std::int64_t end,
                 const SeamMarks& marks, const FinderOptions& options);
Seam MeasureSeam(const SoundView& view, std::int64_t start, std::int64_t end,
                 const FinderOptions& options);

// The seam of sums already taken: E, D and e as in MeasureSeam.
Seam SeamOfSums(double energy, double difference, double noise, const SeamMarks& marks);

// True when `a` is the better of two seams: transparent first, then the higher quality.
bool BetterSeam(const Seam& a, const Seam& b);

}  // namespace finder
