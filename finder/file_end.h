// SPDX-License-Identifier: GPL-3.0-or-later
// Loops that end where the sound ends: a file in the form games ship, which plays its loop once
// (the whole file, or an intro and then one pass) and ends where the loop ends. Nothing follows
// such a loop's end to compare its seam with, so the join is judged by what it must sound like:
// the partials ringing at the end going on into the start, or, where the file leads into the
// start as the loop's end does (a pickup), the lead-in matching the loop's last moments.
// Standard library and FFTW only; deterministic and safe to call from several threads.
//
// A file plays no loop when its end flows into no start: a piece that ends (a fade, a last chord
// or a sound dying away) or a sound without partials that ring on (noise).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "finder/features.h"
#include "finder/finder_options.h"
#include "finder/seam_quality.h"
#include "finder/sound_view.h"

namespace finder {

// Whether the sound's last seconds fall away, as a piece that ends: its end is quiet
// (EndIsQuiet), the music left its level (MusicEndSpectrum) endFallSeconds or more before it, and
// the second half of what followed is endTailFallDb quieter than the first: a fade, a last chord
// or a sound dying out. Music that stops short before a loop comes round again, or a few quiet
// notes after it, is no fall.
bool EndFallsAway(const Features& features, const FinderOptions& options);

// Whether the sound's last endCheckSeconds lie endQuietDb or more below the music's level.
bool EndIsQuiet(const Features& features, const FinderOptions& options);

// The last spectrum within endLoudMarginDb of the music's level: where the music is last at its
// level (where a fade or a last chord begins to fall), in spectra.
std::int64_t MusicEndSpectrum(const Features& features, const FinderOptions& options);

// How closely the partials ringing just before `end` go on into the sound from `start`, in phase
// and at their own pitch and decay, as if the sound went on past `end` into `start`: the
// normalised correlation, -1 .. 1, of the start's spectrum with the end's continued, over the
// end's spectral peaks (ringingFloorDb below the strongest). Other sound at the start (notes that
// begin there) lowers it but does not make it fail. Nothing where fewer than ringingLeastPartials
// ring at the end: one or two may line up anywhere by chance.
std::optional<double> RingingContinuity(const SoundView& view, std::int64_t end, std::int64_t start,
                                        const FinderOptions& options);

// The median of RingingContinuity from one moment to the next at ringingPoints places over the
// sound: near 1 for music whose partials ring on, near 0 for noise. Nothing where nothing rings.
std::optional<double> RingingOfMaterial(const SoundView& view, const FinderOptions& options);

// A file-end join's seam, start .. end with `end` the last end the limits allow. The better of
//   the lead-in: MeasureSeam's comparison of the qualitySeconds before `start` with those before
//     `end` (where the file leads into the start as into the end, the join is as seamless as
//     the file's own flow), when `start` has that much before it;
//   the ringing: 10 log10((1 + c) / (1 - c)) of c = RingingContinuity(end, start).
Seam MeasureFileEndSeam(const SoundView& view, std::int64_t start, std::int64_t end,
                        const FinderOptions& options);

// How the start of a file-end loop was found.
enum class IntroCue {
    None,    // no intro: the whole file loops
    Pickup,  // the file opens with the loop's last moments, running on to the loop's start
};

struct FileEndLoop {
    std::int64_t start = 0;
    Seam seam;
    IntroCue cue = IntroCue::None;
};

// The start of a loop ending at `end` whose intro is a pickup: the sound's opening is the loop's
// last moments, so that x[t] = x[t + (end - start)] for t < start, to the material's own floor
// over pickupShare of it. Nothing when the opening recurs nowhere so, or is silent.
std::optional<std::int64_t> PickupStart(const SoundView& view, const Features& features,
                                        std::int64_t end, const FinderOptions& options);

// The loops that end at `end` (the last end the limits allow), best first: the whole file, or
// an intro and one pass; the whole file first where its own join continues the end's partials
// (wholeRinging) or no intro is found. Empty when the end flows into no start (above), or no
// loop of at least `leastFrames` and at most `mostFrames` ends there.
std::vector<FileEndLoop> FileEndLoops(const SoundView& view, const Features& features,
                                      std::int64_t end, std::int64_t leastFrames,
                                      std::int64_t mostFrames, const FinderOptions& options);

}  // namespace finder
