// SPDX-License-Identifier: GPL-3.0-or-later
// The finder on the rips users have: passes that differ by codec noise, 8-bit with dither at
// low rates, hiss, and recordings of several passes. Each sound is built here, a few seconds long,
// with its loop known.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <vector>

#include "finder/loop_finder.h"
#include "finder/seam_quality.h"
#include "finder/sound_view.h"
#include "tests/support/looped_music.h"
#include "wave/wave_reader.h"

namespace {

using testwave::LoopedMusic;

struct DegradedCase {
    const char* name;
    LoopedMusic music;
};

LoopedMusic Music(testwave::Format format, double introSeconds, double loopSeconds, int passes) {
    LoopedMusic m;
    m.format = format;
    m.introFrames = static_cast<std::uint32_t>(introSeconds * format.rate);
    m.loopFrames = static_cast<std::uint32_t>(loopSeconds * format.rate);
    m.totalFrames = m.introFrames + static_cast<std::uint32_t>(passes) * m.loopFrames + format.rate;
    return m;
}

std::vector<DegradedCase> Cases() {
    std::vector<DegradedCase> cases;
    LoopedMusic codec = Music(testwave::Pcm(16, 2, 22050), 1.2, 4.3, 2);
    codec.noiseDb = -16.0;  // passes of a lossy file at a low quality differ about this much
    cases.push_back({"passes differing by codec noise, 16-bit stereo 22050 Hz", codec});
    LoopedMusic rip = Music(testwave::Pcm(8, 1, 22050), 0.8, 3.7, 2);
    rip.dither = true;
    cases.push_back({"8-bit mono 22050 Hz with dither", rip});
    LoopedMusic coarse = Music(testwave::Pcm(8, 1, 11025), 1.0, 4.1, 2);
    coarse.dither = true;
    cases.push_back({"8-bit mono 11025 Hz with dither", coarse});
    LoopedMusic hiss = Music(testwave::Pcm(16, 2, 16000), 1.5, 3.9, 2);
    hiss.noiseDb = -60.0;
    cases.push_back({"hiss 60 dB below the music, 16-bit stereo", hiss});
    cases.push_back({"five passes, 16-bit mono", Music(testwave::Pcm(16, 1, 11025), 0.7, 3.3, 5)});
    LoopedMusic fiveNoisy = Music(testwave::Pcm(16, 1, 11025), 1.1, 2.9, 5);
    fiveNoisy.noiseDb = -30.0;
    cases.push_back({"five passes differing by noise", fiveNoisy});
    return cases;
}

// The best candidate is one pass of the loop, to within 2 frames, with a seam as good as the
// loop's own (within 3 dB) or one that passes.
TEST(DegradedMaterial, FindsOnePassWithASeamAsGoodAsTheLoopsOwn) {
    for (const DegradedCase& c : Cases()) {
        SCOPED_TRACE(c.name);
        const testwave::Bytes file =
            testwave::Wave(c.music.format, testwave::RenderLoopedMusic(c.music));
        const wave::ParsedWave sound = wave::ParseWave(std::span<const std::uint8_t>(file)).wave;
        const std::vector<finder::LoopCandidate> found =
            finder::FindLoops(sound.format, sound.data);
        if (found.empty()) {
            ADD_FAILURE() << "no candidate";
            continue;
        }
        const std::int64_t length = found[0].end - found[0].start;
        EXPECT_LE(std::llabs(length - c.music.loopFrames), 2) << length;
        const auto view = finder::ViewOf(sound.format, sound.data);
        ASSERT_TRUE(view);
        const double ownDb = finder::MeasureSeam(*view, c.music.introFrames,
                                                 c.music.introFrames + c.music.loopFrames, {})
                                 .qualityDb;
        EXPECT_GE(found[0].qualityDb, ownDb - 3.0) << "the loop's own seam: " << ownDb << " dB";
        EXPECT_TRUE(found[0].passes) << found[0].qualityDb << " dB";

        // Ctrl+R from 0.3 s off each way gives the loop back, its seam judged by the material's
        // floor.
        const auto off = static_cast<std::int32_t>(0.3 * c.music.format.rate);
        const auto start = static_cast<std::int32_t>(c.music.introFrames + c.music.loopFrames);
        const std::optional<finder::LoopCandidate> refined =
            finder::RefineLoop(sound.format, sound.data, start + off,
                               start + static_cast<std::int32_t>(c.music.loopFrames) - off, 0.5);
        if (!refined) {
            ADD_FAILURE() << "nothing refined";
            continue;
        }
        EXPECT_LE(std::llabs(refined->end - refined->start - c.music.loopFrames), 2);
    }
}

}  // namespace
