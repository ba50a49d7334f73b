// SPDX-License-Identifier: GPL-3.0-or-later
// Loops that end where the sound ends: the two kinds of file told apart, the files that have no
// loop, the join's own measure, and the window's rule, which ends such a loop a frame earlier.
#include "finder/file_end.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <optional>
#include <span>
#include <vector>

#include "finder/loop_finder.h"
#include "finder/sound_view.h"
#include "tests/support/looped_music.h"
#include "tests/support/wave_bytes.h"
#include "wave/loop_rules.h"
#include "wave/wave_reader.h"

namespace {

using testwave::LoopedMusic;
using testwave::Shipped;

// The options our own commands give the finder.
finder::FinderOptions OwnOptions() {
    finder::FinderOptions options;
    options.toSoundEnd = true;
    return options;
}

wave::ParsedWave Parse(const testwave::Format& format, const testwave::Bytes& samples) {
    const testwave::Bytes file = testwave::Wave(format, samples);
    return wave::ParseWave(std::span<const std::uint8_t>(file)).wave;
}

std::int64_t FramesOf(const wave::ParsedWave& wave) {
    return static_cast<std::int64_t>(wave.data.size()) / wave.format.nBlockAlign;
}

LoopedMusic Music(testwave::Format format, double introSeconds, double loopSeconds) {
    return testwave::MusicOf(format, introSeconds, loopSeconds);
}

struct KindCase {
    const char* name;
    LoopedMusic music;
    std::optional<Shipped> form;  // none: a recording of passes (RenderLoopedMusic)
    wave::LoopKind kind;
    std::int64_t start;  // the loop's start; for Passes, its length is checked instead
};

std::vector<KindCase> KindCases() {
    std::vector<KindCase> cases;
    const LoopedMusic rip = Music(testwave::Pcm(16, 2, 11025), 1.3, 4.37);
    cases.push_back({"a recording: an intro, the loop twice and a second more", rip, std::nullopt,
                     wave::LoopKind::Passes, 0});
    const LoopedMusic whole = Music(testwave::Pcm(16, 2, 11025), 0.0, 6.21);
    cases.push_back({"the whole file loops, 16-bit stereo", whole, Shipped::WholeFile,
                     wave::LoopKind::FileEnd, 0});
    LoopedMusic lowFi = Music(testwave::Pcm(8, 1, 8000), 0.0, 7.3);
    lowFi.dither = true;
    cases.push_back({"the whole file loops, 8-bit mono with dither", lowFi, Shipped::WholeFile,
                     wave::LoopKind::FileEnd, 0});
    LoopedMusic rest = Music(testwave::Pcm(16, 1, 11025), 0.0, 6.8);
    rest.ringAcross = false;  // its notes stop before it ends: a rest, then the loop comes round
    rest.noteEverySeconds = 0.4;
    cases.push_back({"the whole file loops, ending in a rest", rest, Shipped::WholeFile,
                     wave::LoopKind::FileEnd, 0});
    const LoopedMusic pickup = Music(testwave::Pcm(16, 2, 11025), 1.6, 6.5);
    cases.push_back({"a pickup intro (the loop's last moments), then one pass", pickup,
                     Shipped::Pickup, wave::LoopKind::FileEnd, pickup.introFrames});
    return cases;
}

testwave::Bytes Render(const KindCase& c) {
    return c.form ? testwave::RenderShippedMusic(c.music, *c.form)
                  : testwave::RenderLoopedMusic(c.music);
}

TEST(FileEndTest, EachKindOfFileGetsItsOwnLoopFirst) {
    for (const KindCase& c : KindCases()) {
        SCOPED_TRACE(c.name);
        const wave::ParsedWave wave = Parse(c.music.format, Render(c));
        const auto found = finder::FindLoops(wave.format, wave.data, OwnOptions());
        if (found.empty()) {
            ADD_FAILURE() << "no candidate";
            continue;
        }
        EXPECT_EQ(found[0].kind, c.kind);
        const wave::LoopLimits limits = wave::LoopLimitsToSoundEnd(wave.format, wave.dataBytes);
        for (const finder::LoopCandidate& candidate : found)
            EXPECT_TRUE(wave::KeepsLoopRule(limits, candidate.start, candidate.end))
                << candidate.start << " " << candidate.end;
        if (c.kind == wave::LoopKind::Passes) {
            EXPECT_NEAR(found[0].end - found[0].start, c.music.loopFrames, 2);
            EXPECT_LT(found[0].end, FramesOf(wave));
            continue;
        }
        EXPECT_EQ(found[0].end, FramesOf(wave)) << "the end is the sound's, exclusive";
        EXPECT_EQ(found[0].start, c.start);
    }
}

// The window's rule keeps every end at the last frame: the same files give it loops it can hold,
// a frame short at the end, or, where the intro is the loop's last moments, a frame earlier at
// both ends.
TEST(FileEndTest, TheWindowsRuleGetsALoopItCanHold) {
    for (const KindCase& c : KindCases()) {
        if (c.kind != wave::LoopKind::FileEnd) continue;
        SCOPED_TRACE(c.name);
        const wave::ParsedWave wave = Parse(c.music.format, Render(c));
        const auto found = finder::FindLoops(wave.format, wave.data);
        if (found.empty()) {
            ADD_FAILURE() << "no candidate";
            continue;
        }
        const wave::LoopLimits limits = wave::LoopLimitsOf(wave.format, wave.dataBytes);
        EXPECT_TRUE(wave::KeepsLoopRule(limits, found[0].start, found[0].end));
        EXPECT_EQ(found[0].end, FramesOf(wave) - 1);
        EXPECT_EQ(found[0].start, c.start == 0 ? 0 : c.start - 1);
    }
}

// The same intro of other notes before one pass: whatever the cues make of the intro, the
// answer ends with the sound and is no phrase of the loop.
TEST(FileEndTest, AnIntroOfOtherNotesGivesNoPhrase) {
    const LoopedMusic music = Music(testwave::Pcm(16, 2, 11025), 2.4, 6.9);
    const wave::ParsedWave wave =
        Parse(music.format, testwave::RenderShippedMusic(music, Shipped::Intro));
    const auto found = finder::FindLoops(wave.format, wave.data, OwnOptions());
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(found[0].kind, wave::LoopKind::FileEnd);
    EXPECT_EQ(found[0].end, FramesOf(wave));
    EXPECT_TRUE(found[0].start == 0 || found[0].start == std::int64_t{music.introFrames})
        << found[0].start;
}

// 16-bit mono samples of a function of time, at `rate`.
testwave::Bytes Samples(std::int64_t frames, std::int32_t rate, double (*at)(double, double)) {
    testwave::Bytes out;
    const double seconds = static_cast<double>(frames) / rate;
    for (std::int64_t f = 0; f < frames; ++f) {
        const double v = std::clamp(at(static_cast<double>(f) / rate, seconds), -1.0, 1.0);
        testwave::PutU16(
            out, static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(v * 32767.0))));
    }
    return out;
}

double Bell(double t, double) {
    double v = 0.0;
    for (const double h : {1.0, 2.76, 5.4})
        v += std::sin(2.0 * std::numbers::pi * 523.25 * h * t) * std::exp(-t * h / 2.0) / h;
    return 0.6 * v;
}

// Chords that change every half second, each on a root of its own, for as long as the sound
// lasts: music that goes on and never repeats.
double Chords(double t, double) {
    std::uint32_t state = static_cast<std::uint32_t>(t * 2.0) * 2654435761u + 12345u;
    state = state * 1664525u + 1013904223u;
    const double root = 150.0 + 200.0 * static_cast<double>(state >> 8) / 16777216.0;
    double v = 0.0;
    for (const double ratio : {1.0, 1.25, 1.5, 2.0})
        v += std::sin(2.0 * std::numbers::pi * root * ratio * t) / ratio;
    return 0.2 * v;
}

// Those chords faded out over the last six seconds, then a moment of silence.
double FadedChords(double t, double seconds) {
    const double fadeFrom = seconds - 6.5;
    const double gain = t < fadeFrom ? 1.0 : std::max(0.0, 1.0 - (t - fadeFrom) / 6.0);
    return Chords(t, seconds) * gain;
}

// The chords, then the last one left to ring out over four seconds, cut at -35 dB.
double ChordsRingingOut(double t, double seconds) {
    const double from = seconds - 4.0;
    if (t < from) return Chords(t, seconds);
    double v = 0.0;
    for (const double ratio : {1.0, 1.25, 1.5, 2.0})
        v += std::sin(2.0 * std::numbers::pi * 196.0 * ratio * t) / ratio;
    return 0.2 * v * std::exp(-(t - from) * 2.0);
}

TEST(FileEndTest, NoLoopWhereTheEndFlowsIntoNoStart) {
    const testwave::Format format = testwave::Pcm(16, 1, 11025);
    const struct {
        const char* name;
        testwave::Bytes samples;
    } rows[] = {
        {"white noise", testwave::Noise(11025 * 2 * 9)},
        {"a bell struck once, dying away", Samples(11025 * 9, 11025, Bell)},
        {"a piece that fades out", Samples(11025 * 12, 11025, FadedChords)},
        {"a piece whose last chord rings out", Samples(11025 * 12, 11025, ChordsRingingOut)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const wave::ParsedWave wave = Parse(format, row.samples);
        const auto found = finder::FindLoops(wave.format, wave.data, OwnOptions());
        EXPECT_TRUE(found.empty()) << found.front().start << " " << found.front().end;
    }
    // The same chords going on to the end do loop, as a whole file.
    const wave::ParsedWave going = Parse(format, Samples(11025 * 12, 11025, Chords));
    const auto found = finder::FindLoops(going.format, going.data, OwnOptions());
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(found[0].kind, wave::LoopKind::FileEnd);
}

// A tone of five partials: continued across a join it continues in phase (near 1); joined half
// its period off it turns against itself (near -1); noise continues nothing (near 0); silence at
// the end has nothing to continue.
TEST(FileEndTest, TheRingingAtTheEndGoesOnIntoTheStart) {
    const std::int32_t rate = 12000;
    // Odd harmonics of 220 Hz: half its period turns each of them half a turn.
    const auto tone = [](double t, double) {
        double v = 0.0;
        for (const int h : {1, 3, 5, 7, 9})
            v += std::sin(2.0 * std::numbers::pi * 220.0 * h * t) / h;
        return 0.4 * v;
    };
    const wave::ParsedWave toneWave =
        Parse(testwave::Pcm(16, 1, rate), Samples(rate * 6, rate, tone));
    const wave::ParsedWave noiseWave =
        Parse(testwave::Pcm(16, 1, rate), testwave::Noise(rate * 12));
    const auto silent = [](double t, double) { return t < 3.0 ? 0.5 * std::sin(1000.0 * t) : 0.0; };
    const wave::ParsedWave silentWave =
        Parse(testwave::Pcm(16, 1, rate), Samples(rate * 6, rate, silent));
    const finder::FinderOptions options;
    const std::int64_t at = 3 * rate;
    const double half = rate / 440.0;
    const struct {
        const char* name;
        const wave::ParsedWave* wave;
        std::int64_t end, start;
        double least, most;
    } rows[] = {
        {"the tone going on", &toneWave, at, at, 0.95, 1.0},
        {"the tone half its period off", &toneWave, at, at + std::llround(half), -1.0, -0.8},
        {"noise", &noiseWave, at, at, -0.3, 0.3},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::optional<finder::SoundView> view =
            finder::ViewOf(row.wave->format, row.wave->data);
        ASSERT_TRUE(view);
        const std::optional<double> c =
            finder::RingingContinuity(*view, row.end, row.start, options);
        ASSERT_TRUE(c);
        EXPECT_GE(*c, row.least);
        EXPECT_LE(*c, row.most);
    }
    const std::optional<finder::SoundView> view =
        finder::ViewOf(silentWave.format, silentWave.data);
    ASSERT_TRUE(view);
    EXPECT_FALSE(finder::RingingContinuity(*view, view->frames, 0, options));
}

// A pickup's join is as seamless as the file's own flow into the loop's start: measured by the
// lead-in, it is far better there than a millisecond off; and a loop given to end with the sound
// is measured so, as a file-end loop.
TEST(FileEndTest, APickupsJoinMeasuresAsTheFilesOwnFlow) {
    const LoopedMusic music = Music(testwave::Pcm(16, 2, 11025), 1.6, 6.5);
    const wave::ParsedWave wave =
        Parse(music.format, testwave::RenderShippedMusic(music, Shipped::Pickup));
    const std::optional<finder::SoundView> view = finder::ViewOf(wave.format, wave.data);
    ASSERT_TRUE(view);
    const finder::FinderOptions options;
    const std::int64_t start = music.introFrames;
    const finder::Seam at = finder::MeasureFileEndSeam(*view, start, view->frames, options);
    const finder::Seam off =
        finder::MeasureFileEndSeam(*view, start + music.format.rate / 1000, view->frames, options);
    EXPECT_TRUE(at.transparent) << at.qualityDb;
    EXPECT_GT(at.qualityDb, off.qualityDb + 10.0) << at.qualityDb << " " << off.qualityDb;

    const auto measured =
        finder::MeasureLoop(wave.format, wave.data, static_cast<std::int32_t>(start),
                            static_cast<std::int32_t>(view->frames));
    ASSERT_TRUE(measured);
    EXPECT_EQ(measured->kind, wave::LoopKind::FileEnd);
    EXPECT_DOUBLE_EQ(measured->qualityDb, at.qualityDb);
}

// Refining a loop that ends with the sound: it keeps ending there; the start marked stays where
// its join is as good as the finder's own, and moves to the finder's where that is clearly
// better; an end beyond the radius of the sound's gives no such loop.
TEST(FileEndTest, RefineOfALoopThatEndsWithTheSound) {
    const LoopedMusic music = Music(testwave::Pcm(16, 2, 11025), 1.6, 6.5);
    const wave::ParsedWave wave =
        Parse(music.format, testwave::RenderShippedMusic(music, Shipped::Pickup));
    const auto frames = static_cast<std::int32_t>(FramesOf(wave));
    const auto intro = static_cast<std::int32_t>(music.introFrames);
    const auto rate = static_cast<std::int32_t>(music.format.rate);
    const std::int32_t ms = rate / 1000;
    const struct {
        const char* name;
        std::int32_t start, end;
        std::optional<std::int32_t> refined;  // the start; nothing: no loop
    } rows[] = {
        {"the finder's own loop", intro, frames, intro},
        {"3 ms off: the pickup's exact start is clearly better", intro + 3 * ms, frames, intro},
        {"an end far from it", intro, frames - 2 * rate, std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto refined =
            finder::RefineLoop(wave.format, wave.data, row.start, row.end, 0.5, OwnOptions());
        if (!row.refined) {
            EXPECT_FALSE(refined && refined->kind == wave::LoopKind::FileEnd);
            continue;
        }
        if (!refined) {
            ADD_FAILURE() << "nothing refined";
            continue;
        }
        EXPECT_EQ(refined->start, *row.refined);
        EXPECT_EQ(refined->end, frames);
        EXPECT_EQ(refined->kind, wave::LoopKind::FileEnd);
    }
}

}  // namespace
