// SPDX-License-Identifier: GPL-3.0-or-later
// The finder's two entry points: the steps run in order, and the candidates ranked (ranking.h).
#include "finder/loop_finder.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "finder/exact_lag.h"
#include "finder/features.h"
#include "finder/file_end.h"
#include "finder/loop_start.h"
#include "finder/ranking.h"
#include "finder/repetition_lag.h"
#include "finder/seam_quality.h"
#include "finder/sound_view.h"
#include "wave/loop_rules.h"

namespace finder {
namespace {

// A repetition lag is good to this many hops either way of the lags that repeat alike about it;
// the exact lag is looked for that far.
constexpr std::int64_t kLagReachHops = 4;
// Twice an exact lag is good to this many frames either way.
constexpr std::int64_t kMultipleReachFrames = 4;
// A ranking that puts passing seams first needs a few lengths to choose from.
constexpr int kLeastLengthsRanked = 3;
// Music repeats on to where it ends when the spectra there match the pass before, by majority.
constexpr double kRepeatsOnShare = 0.5;
// Music that repeats over this share of itself is a recording of passes.
constexpr double kMostlyRepeated = 0.5;
// Lengths this close, in frames, are one length.
constexpr std::int64_t kSameLengthFrames = 2;

Scored Score(const SoundView& view, std::int64_t start, std::int64_t lag, double repeatSeconds,
             const SeamMarks& marks, const FinderOptions& options) {
    Scored scored;
    scored.seam = MeasureSeam(view, start, start + lag, marks, options);
    scored.candidate.start = static_cast<std::int32_t>(start);
    scored.candidate.end = static_cast<std::int32_t>(start + lag);
    scored.candidate.qualityDb = scored.seam.qualityDb;
    scored.candidate.repeatSeconds = repeatSeconds;
    scored.candidate.passes =
        scored.seam.transparent || scored.seam.qualityDb >= marks.passQualityDb;
    return scored;
}

// The starts worth offering for a loop of `lag` frames starting in [first, last]: the earliest
// from which the two passes agree, and the cleanest after it when that one is clearly better
// (notes ringing across the join have died away). Without any agreement, the cleanest alone.
std::vector<Scored> Starts(const SoundView& view, std::int64_t lag, std::int64_t first,
                           std::int64_t last, double repeatSeconds, const SeamMarks& marks,
                           const FinderOptions& options) {
    std::vector<Scored> starts;
    const std::optional<std::int64_t> earliest =
        EarliestStart(view, lag, first, last, marks, options);
    const std::int64_t cleanFrom = earliest.value_or(first);
    const std::int64_t cleanTo =
        earliest ? std::min(last, *earliest + view.FramesOf(options.cleanSpanSeconds)) : last;
    // The cleanest start is told by the fixed marks: by the material's own, every seam of lossy
    // material near its floor would rank equal and the earliest would stand.
    const Scored cleanest =
        Score(view, CleanestStart(view, lag, cleanFrom, cleanTo, FixedMarks(options), options), lag,
              repeatSeconds, marks, options);
    if (earliest) {
        starts.push_back(Score(view, *earliest, lag, repeatSeconds, marks, options));
        const Seam& agreed = starts.front().seam;
        const bool agreedClean = TransparentByFixedMarks(agreed, options);
        const bool clearlyBetter =
            (TransparentByFixedMarks(cleanest.seam, options) && !agreedClean) ||
            (!agreedClean && cleanest.seam.qualityDb >= agreed.qualityDb + options.cleanGainDb);
        if (clearlyBetter && cleanest.candidate.start != starts.front().candidate.start)
            starts.push_back(cleanest);
    } else {
        starts.push_back(cleanest);
    }
    OrderStarts(starts, options);
    return starts;
}

// A loop whose seam fails but whose passes agree over holdShare of its length by the material's
// marks passes all the same: at a lossy copy's noise a join may measure poorly where the codec's
// noise differs most between the passes, though the whole loop repeats as well as the copy lets
// it.
void PassWhereThePassesHold(const SoundView& view, std::int64_t lag, const SeamMarks& marks,
                            const FinderOptions& options, Scored& scored) {
    if (scored.candidate.passes) return;
    scored.candidate.passes =
        AgreeingShare(view, lag, scored.candidate.start, marks, options) >= options.holdShare;
}

// The starts of a loop of `lag` frames that the sound repeats over [runFirst, runEnd), judged
// by the marks of that stretch's own floor. Empty when no start keeps the loop rules.
std::vector<Scored> StartsOfRun(const SoundView& view, std::int64_t lag, std::int64_t runFirst,
                                std::int64_t runEnd, std::int64_t endLimit, double repeatSeconds,
                                const FinderOptions& options) {
    const std::int64_t first =
        std::max<std::int64_t>(0, runFirst - view.FramesOf(options.startMarginSeconds));
    const std::int64_t last = std::min(runEnd, endLimit - lag);
    if (last < first) return {};
    const SeamMarks marks =
        MarksFor(RepetitionFloorDb(view, lag, runFirst, runEnd, options), options);
    std::vector<Scored> starts = Starts(view, lag, first, last, repeatSeconds, marks, options);
    // The ranking asks only the first.
    PassWhereThePassesHold(view, lag, marks, options, starts.front());
    return starts;
}

// The frames a loop's length may take: the loop rules, the bounds asked for, and at most half
// the sound, for a loop plays at least twice in the sound it was found in.
struct LengthRange {
    std::int64_t least = 0;
    std::int64_t most = 0;
};

LengthRange RangeOf(const SoundView& view, const wave::LoopLimits& limits,
                    const FinderOptions& options) {
    LengthRange range{limits.halfWindowFrames,
                      std::min<std::int64_t>(limits.lastFrame, view.frames / 2)};
    range.least = std::max(range.least, view.FramesOf(options.minLengthSeconds, 0));
    range.most = std::min(range.most, view.FramesOf(options.maxLengthSeconds, 0));
    return range;
}

bool SameLength(std::int64_t a, std::int64_t b) { return std::abs(a - b) <= kSameLengthFrames; }

// The loop the user marked, and how far each of its points may move.
struct Marked {
    std::int64_t start = 0;
    std::int64_t end = 0;
    std::int64_t radius = 0;

    std::int64_t StartLo() const { return std::max<std::int64_t>(0, start - radius); }
    std::int64_t EndHi() const { return end + radius; }
    // How far a loop of `lag` frames from `from` lies from the marked points.
    std::int64_t Distance(std::int64_t from, std::int64_t lag) const {
        return std::abs(from - start) + std::abs(from + lag - end);
    }
};

// Whether the seam `a` is as good as `b`: both transparent by the options' own marks (the
// material's may call a seam several dB worse transparent too), or within sameSeamDb of it. A
// loop nearer the points the user marked wins only so: never a clearly worse one.
bool AsGood(const Seam& a, const Seam& b, const FinderOptions& options) {
    if (TransparentByFixedMarks(a, options) && TransparentByFixedMarks(b, options)) return true;
    return a.qualityDb >= b.qualityDb - options.sameSeamDb;
}

// The start at the marked points themselves, as near as a loop of `lag` frames in [first, last]
// comes to them. A join in a rest that both passes share is heard as the music after the rest:
// it takes that music's seam, and fails where the music does not agree.
Scored AtMarkedPoints(const SoundView& view, std::int64_t lag, std::int64_t first,
                      std::int64_t last, const Marked& marked, const SeamMarks& marks,
                      const FinderOptions& options) {
    const std::int64_t at = std::clamp(marked.start, first, last);
    Scored own = Score(view, at, lag, 0.0, marks, options);
    if (!RestInBothPasses(view, lag, at, at + view.FramesOf(options.qualitySeconds), options))
        return own;
    const std::optional<std::int64_t> music =
        EarliestStart(view, lag, at, at + view.FramesOf(options.cleanSpanSeconds), marks, options);
    if (music && RestInBothPasses(view, lag, at, *music, options)) {
        const Scored following = Score(view, *music, lag, 0.0, marks, options);
        own.seam = following.seam;
        own.candidate.qualityDb = following.candidate.qualityDb;
        own.candidate.passes = following.candidate.passes;
    } else {
        own.seam.transparent = own.seam.withinRounding = false;
        own.candidate.passes = false;
    }
    return own;
}

// The best loop of `lag` frames whose points lie within the radius of the marked ones: the
// finder's own choice of start (the earliest from which the passes agree, or the cleanest),
// or the start at the points themselves where that one fails, or where it is nearer them and
// its seam is as good. Nothing when no start keeps the loop rules there.
std::optional<Scored> RefineAtLag(const SoundView& view, std::int64_t lag, const Marked& marked,
                                  std::int64_t endLimit, const FinderOptions& options) {
    // Each point moves at most the radius: the start within it, and the end, start + lag, too.
    const std::int64_t first = std::max(marked.StartLo(), marked.end - marked.radius - lag);
    const std::int64_t last =
        std::min({marked.start + marked.radius, marked.EndHi() - lag, endLimit - lag});
    if (first > last) return std::nullopt;
    const SeamMarks marks =
        MarksFor(RepetitionFloorDb(view, lag, marked.StartLo(), marked.EndHi(), options), options);
    const Scored chosen = Starts(view, lag, first, last, 0.0, marks, options).front();
    const Scored own = AtMarkedPoints(view, lag, first, last, marked, marks, options);
    const bool nearer =
        marked.Distance(own.candidate.start, lag) < marked.Distance(chosen.candidate.start, lag);
    const bool ownFirst =
        own.candidate.passes &&
        (!chosen.candidate.passes || (nearer && AsGood(own.seam, chosen.seam, options)));
    Scored refined = ownFirst ? own : chosen;
    PassWhereThePassesHold(view, lag, marks, options, refined);
    return refined;
}

// The limits a loop keeps: the window's, or our own commands' (a loop may end with the sound).
wave::LoopLimits LimitsOf(const wave::PcmFormat& format, std::span<const std::uint8_t> sound,
                          const FinderOptions& options) {
    const auto bytes = static_cast<std::int64_t>(sound.size());
    return options.toSoundEnd ? wave::LoopLimitsToSoundEnd(format, bytes)
                              : wave::LoopLimitsWithin(format, bytes);
}

// The lengths at which the sound repeats, each a group of starts, with twice the pass where the
// sound repeats long enough for it; unranked.
std::vector<LengthGroup> PassesGroups(const SoundView& view, const Features& features,
                                      const wave::LoopLimits& limits,
                                      const FinderOptions& options) {
    std::vector<LengthGroup> groups;
    const LengthRange range = RangeOf(view, limits, options);
    if (range.most < range.least) return groups;
    const std::int64_t hop = features.hopFrames;
    const std::int64_t minLag = std::max<std::int64_t>(1, range.least / hop - 1);
    const std::int64_t maxLag = range.most / hop + 1;
    const auto lengths =
        static_cast<std::size_t>(std::max(options.maxCandidates, kLeastLengthsRanked));
    const std::vector<RepetitionLag> lags =
        FindRepetitionLags(features, minLag, maxLag, lengths, options);

    const auto known = [&groups](std::int64_t lag) {
        return std::any_of(groups.begin(), groups.end(),
                           [lag](const LengthGroup& g) { return SameLength(g.lagFrames, lag); });
    };
    for (const RepetitionLag& repetition : lags) {
        const std::int64_t lagLo =
            std::max(range.least, (repetition.plateauLo - kLagReachHops) * hop);
        const std::int64_t lagHi =
            std::min(range.most, (repetition.plateauHi + kLagReachHops) * hop);
        const std::int64_t runFirst = repetition.run.first * hop;
        const std::int64_t runEnd =
            (repetition.run.first + repetition.run.length - 1) * hop + features.windowFrames;
        const std::optional<ExactLag> exact =
            FindExactLag(view, lagLo, lagHi, runFirst, runEnd, options);
        if (!exact || known(exact->lagFrames)) continue;
        const double repeatSeconds =
            static_cast<double>(repetition.run.length) / features.spectraPerSecond;
        std::vector<Scored> starts = StartsOfRun(view, exact->lagFrames, runFirst, runEnd,
                                                 limits.lastFrame, repeatSeconds, options);
        if (starts.empty()) continue;
        groups.push_back(LengthGroup{exact->lagFrames, std::move(starts), false});

        // Twice the pass, where the sound repeats long enough for it: the loop when the single
        // pass's seam is clearly the worse.
        const std::int64_t twice = 2 * exact->lagFrames;
        if (twice - kMultipleReachFrames > range.most || runEnd - runFirst <= twice) continue;
        const std::optional<ExactLag> exactTwice = FindExactLag(
            view, std::max(range.least, twice - kMultipleReachFrames),
            std::min(range.most, twice + kMultipleReachFrames), runFirst, runEnd, options);
        if (!exactTwice || known(exactTwice->lagFrames)) continue;
        std::vector<Scored> twiceStarts = StartsOfRun(view, exactTwice->lagFrames, runFirst, runEnd,
                                                      limits.lastFrame, repeatSeconds, options);
        if (!twiceStarts.empty())
            groups.push_back(LengthGroup{exactTwice->lagFrames, std::move(twiceStarts), true});
    }
    return groups;
}

// Whether the sound is a recording of its loop's passes (a rip): its music repeats at the best
// length on to where the music is last at its level (most of the reachSeconds before it match
// the pass before, by the spectra's shapes). Where the end does not fall away after that (a
// fade), the repetition must also take up repeatedShare of the music (not a phrase heard again
// at the end of a song); and where it takes up less than half, a whole file whose own join holds
// is a loop of its own unless it is made of those passes.
bool RecordsPasses(const SoundView& view, const Features& features,
                   const std::vector<LengthGroup>& ranked, const FinderOptions& options) {
    if (ranked.empty()) return false;
    const LengthGroup& best = ranked.front();
    const std::int64_t hop = features.hopFrames;
    const std::int64_t lag = std::max<std::int64_t>(
        1, std::llround(static_cast<double>(best.lagFrames) / static_cast<double>(hop)));
    const std::int64_t musicEnd = MusicEndSpectrum(features, options);
    const std::int64_t span = std::clamp<std::int64_t>(
        std::llround(options.reachSeconds * features.spectraPerSecond), 1, lag);
    FinderOptions shapesOnly = options;
    shapesOnly.levelToleranceDb = std::numeric_limits<double>::infinity();
    const double share =
        MatchingShare(features, lag, musicEnd - span - lag, musicEnd - lag, shapesOnly);
    if (share < kRepeatsOnShare) return false;
    if (EndFallsAway(features, options)) return true;
    const double musicFrames = static_cast<double>(musicEnd * hop + features.windowFrames);
    std::int64_t first = best.Front().candidate.start;  // where the passes are first heard
    for (const Scored& start : best.starts)
        first = std::min<std::int64_t>(first, start.candidate.start);
    const double repeated = musicFrames - static_cast<double>(first);
    if (repeated < options.repeatedShare * musicFrames) return false;
    // Most of it repeated: a recording, whatever its own end and start make of each other.
    if (repeated >= kMostlyRepeated * musicFrames) return true;
    const std::int64_t end = view.frames;
    const std::optional<double> whole = RingingContinuity(view, end, 0, options);
    if (!whole || *whole < options.wholeRinging) return true;
    const std::int64_t passes =
        std::llround(static_cast<double>(end) / static_cast<double>(best.lagFrames));
    return passes >= 1 && std::abs(end - passes * best.lagFrames) <= passes * kMultipleReachFrames;
}

// The loops of a file that plays its loop once, as candidates within the limits: found as they
// end with the sound and, where the rules end them earlier (the window's, at the last frame),
// ending at the last end they allow and keeping their length where they can (an intro that is
// the loop's last moments holds them one frame earlier too), else losing their last frames.
std::vector<LoopCandidate> FileEndCandidates(const SoundView& view, const Features& features,
                                             const wave::LoopLimits& limits,
                                             const FinderOptions& options) {
    std::vector<LoopCandidate> candidates;
    const std::int64_t end = limits.lastFrame;
    const std::int64_t cut = view.frames - end;
    const std::int64_t least =
        std::max(limits.halfWindowFrames, view.FramesOf(options.minLengthSeconds, 0));
    const std::int64_t most = std::min(end, view.FramesOf(options.maxLengthSeconds, 0));
    for (const FileEndLoop& loop :
         FileEndLoops(view, features, view.frames, least, most + cut, options)) {
        LoopCandidate candidate;
        candidate.start = static_cast<std::int32_t>(std::max<std::int64_t>(0, loop.start - cut));
        candidate.end = static_cast<std::int32_t>(end);
        if (candidate.end - candidate.start < least) continue;
        candidate.qualityDb =
            cut == 0 ? loop.seam.qualityDb
                     : MeasureFileEndSeam(view, candidate.start, end, options).qualityDb;
        candidate.passes = true;
        candidate.kind = wave::LoopKind::FileEnd;
        assert(wave::KeepsLoopRule(limits, candidate.start, candidate.end));
        candidates.push_back(candidate);
    }
    return candidates;
}

// A loop that ends with the sound, refined: it ends at the last end the limits allow, and of the
// starts within the radius of the one marked (that one itself, and those the finder finds for the
// sound), the one marked keeps its place unless another's seam is better by more than
// sameSeamDb. Nothing where the sound's end flows into no start.
std::optional<LoopCandidate> RefineFileEndLoop(const SoundView& view,
                                               const wave::LoopLimits& limits, const Marked& marked,
                                               const FinderOptions& options) {
    const std::int64_t end = limits.lastFrame;
    if (std::abs(end - marked.end) > marked.radius) return std::nullopt;
    const Features features = ComputeFeatures(view, options);
    if (features.Count() == 0) return std::nullopt;
    std::vector<LoopCandidate> found = FileEndCandidates(view, features, limits, options);
    if (found.empty()) return std::nullopt;
    const std::int64_t latest = end - limits.halfWindowFrames;
    const std::int64_t start = std::min(std::max(marked.start, marked.StartLo()), latest);
    std::optional<LoopCandidate> best;
    if (start >= 0 && std::abs(start - marked.start) <= marked.radius) {
        LoopCandidate own = found.front();
        own.start = static_cast<std::int32_t>(start);
        own.qualityDb = MeasureFileEndSeam(view, start, end, options).qualityDb;
        best = own;
    }
    for (const LoopCandidate& other : found) {
        if (std::abs(other.start - marked.start) > marked.radius) continue;
        if (!best || other.qualityDb > best->qualityDb + options.sameSeamDb) best = other;
    }
    return best;
}

}  // namespace

std::vector<LoopCandidate> FindLoops(const wave::PcmFormat& format,
                                     std::span<const std::uint8_t> sound,
                                     const FinderOptions& options) {
    assert(IsValid(options));
    const std::optional<SoundView> view = ViewOf(format, sound);
    if (!view || !IsValid(options)) return {};
    const wave::LoopLimits limits = LimitsOf(format, view->bytes, options);
    const Features features = ComputeFeatures(*view, options);
    if (features.Count() == 0) return {};
    const std::vector<LengthGroup> groups =
        Ranked(PassesGroups(*view, features, limits, options), options);

    std::vector<LoopCandidate> candidates;
    const auto full = [&] {
        return candidates.size() == static_cast<std::size_t>(options.maxCandidates);
    };
    const auto addPasses = [&] {
        for (const LengthGroup& group : groups) {
            for (const Scored& scored : group.starts) {
                if (full()) return;
                assert(wave::KeepsLoopRule(limits, scored.candidate.start, scored.candidate.end));
                candidates.push_back(scored.candidate);
            }
        }
    };
    if (RecordsPasses(*view, features, groups, options)) {
        addPasses();
        return candidates;
    }
    // A file that plays its loop once: no phrase comes first, and where its end flows into no
    // start, there is no loop at all.
    for (const LoopCandidate& candidate : FileEndCandidates(*view, features, limits, options)) {
        if (full()) break;
        candidates.push_back(candidate);
    }
    if (!candidates.empty()) addPasses();
    return candidates;
}

std::optional<LoopCandidate> RefineLoop(const wave::PcmFormat& format,
                                        std::span<const std::uint8_t> sound, std::int32_t start,
                                        std::int32_t end, double radiusSeconds,
                                        const FinderOptions& options) {
    assert(IsValid(options));
    const std::optional<SoundView> view = ViewOf(format, sound);
    if (!view || !IsValid(options) || !(radiusSeconds >= 0.0)) return std::nullopt;
    const wave::LoopLimits limits = LimitsOf(format, view->bytes, options);
    const Marked marked{start, end, RadiusFrames(format, radiusSeconds)};
    // A loop marked to end where the rules let it end at the latest is one that ends with the
    // sound: it is refined as such.
    if (end == limits.lastFrame) return RefineFileEndLoop(*view, limits, marked, options);
    const std::int64_t given = std::int64_t{end} - start;
    const std::int64_t lagLo = std::max(limits.halfWindowFrames, given - 2 * marked.radius);
    const std::int64_t lagHi = std::min<std::int64_t>(limits.lastFrame, given + 2 * marked.radius);
    if (lagLo > lagHi) return std::nullopt;

    // The length from the marked loop compared with what follows its end; then, while no seam
    // is transparent, from the pass before it compared with the marked loop (a loop that ends
    // with the sound has nothing after it), and from the whole sound. Another length is taken
    // where the one before gives no seam that passes, or a clearly worse one.
    const std::int64_t before = std::max<std::int64_t>(0, marked.StartLo() - given);
    const std::array<std::pair<std::int64_t, std::int64_t>, 3> stretches{{
        {marked.StartLo(), marked.EndHi()},
        {before, std::max(before, marked.EndHi() - given)},
        {0, view->frames},
    }};
    std::optional<Scored> best;
    std::vector<std::int64_t> tried;
    for (const auto& [from, to] : stretches) {
        if (best && best->seam.transparent) break;
        const std::optional<ExactLag> exact = FindExactLag(*view, lagLo, lagHi, from, to, options);
        // Where the whole sound gives no length either, the length given.
        if (!exact && from != 0) continue;
        const std::int64_t lag = exact ? exact->lagFrames : std::clamp(given, lagLo, lagHi);
        if (std::find(tried.begin(), tried.end(), lag) != tried.end()) continue;
        tried.push_back(lag);
        const std::optional<Scored> other =
            RefineAtLag(*view, lag, marked, limits.lastFrame, options);
        const bool otherFirst =
            other &&
            (!best || (other->candidate.passes &&
                       (!best->candidate.passes ||
                        best->seam.qualityDb <= other->seam.qualityDb - options.clearlyWorseDb)));
        if (otherFirst) best = other;
    }
    // The points as given keep their place where their loop is as good as the best found.
    if (given >= limits.halfWindowFrames && end <= limits.lastFrame && start >= 0) {
        const SeamMarks marks = MarksFor(
            RepetitionFloorDb(*view, given, marked.StartLo(), marked.EndHi(), options), options);
        Scored atPoints = AtMarkedPoints(*view, given, start, start, marked, marks, options);
        PassWhereThePassesHold(*view, given, marks, options, atPoints);
        if (atPoints.candidate.passes &&
            (!best || !best->candidate.passes || AsGood(atPoints.seam, best->seam, options)))
            best = atPoints;
    }
    // Moving the user's points to a poor seam helps nobody.
    if (!best || !best->candidate.passes) {
        // Near the sound's end, the loop may be one that ends there.
        if (marked.EndHi() >= limits.lastFrame)
            return RefineFileEndLoop(*view, limits, marked, options);
        return std::nullopt;
    }
    return best->candidate;
}

std::int64_t RadiusFrames(const wave::PcmFormat& format, double radiusSeconds) {
    return FramesAt(format.nSamplesPerSec, radiusSeconds, 0);
}

std::optional<LoopCandidate> MeasureLoop(const wave::PcmFormat& format,
                                         std::span<const std::uint8_t> sound, std::int32_t start,
                                         std::int32_t end, const FinderOptions& options) {
    const std::optional<SoundView> view = ViewOf(format, sound);
    if (!view || !IsValid(options) || start < 0 || end <= start || end > view->frames)
        return std::nullopt;
    // A loop that ends with the sound has nothing after it: its join is measured as a file-end
    // loop's.
    const bool fileEnd = end == view->frames;
    const Seam seam = fileEnd ? MeasureFileEndSeam(*view, start, end, options)
                              : MeasureSeam(*view, start, end, FixedMarks(options), options);
    LoopCandidate candidate;
    candidate.start = start;
    candidate.end = end;
    candidate.qualityDb = seam.qualityDb;
    candidate.passes = seam.transparent || seam.qualityDb >= FixedMarks(options).passQualityDb;
    candidate.kind = fileEnd ? wave::LoopKind::FileEnd : wave::LoopKind::Passes;
    return candidate;
}

std::string QualityText(double qualityDb) {
    double quality = std::round(qualityDb * 10.0) / 10.0;
    if (quality == 0.0) quality = 0.0;  // -0.0 prints with its sign
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", quality);
    return text;
}

}  // namespace finder
