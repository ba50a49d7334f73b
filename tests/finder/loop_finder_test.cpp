// SPDX-License-Identifier: GPL-3.0-or-later
// The seam finder on small synthetic sounds whose loop is known.
#include "finder/loop_finder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "tests/support/looped_music.h"
#include "wave/loop_rules.h"
#include "wave/wave_reader.h"

namespace {

using testwave::LoopedMusic;

// The sound as the reader hands it over.
wave::ParsedWave Read(const LoopedMusic& music) {
    const testwave::Bytes file = testwave::Wave(music.format, testwave::RenderLoopedMusic(music));
    return wave::ParseWave(std::span<const std::uint8_t>(file)).wave;
}

LoopedMusic Music(testwave::Format format, double introSeconds, double loopSeconds) {
    return testwave::MusicOf(format, introSeconds, loopSeconds);
}

struct FindCase {
    const char* name;
    LoopedMusic music;
    bool startsWhereLoopStarts;  // nothing rings across the join: the passes agree from its first
                                 // frame
};

std::vector<FindCase> FindCases() {
    std::vector<FindCase> cases;
    cases.push_back({"notes ringing across the join, distinct intro, 16-bit stereo",
                     Music(testwave::Pcm(16, 2, 11025), 1.3, 4.37), false});
    LoopedMusic fromZero = Music(testwave::Pcm(8, 1, 8000), 0.0, 3.61);
    fromZero.ringAcross = false;
    cases.push_back({"loop from frame 0, 8-bit mono", fromZero, true});
    LoopedMusic steady = Music(testwave::Pcm(16, 1, 22050), 0.9, 4.05);
    steady.steadyHz = 220.0;  // every multiple of its period looks like a loop to one chunk
    steady.noteEverySeconds = 1.1;
    steady.ringSeconds = 0.08;
    cases.push_back({"steady tone under sparse notes, 16-bit mono", steady, false});
    LoopedMusic clipped = Music(testwave::Pcm(8, 2, 48000), 0.7, 3.3);
    clipped.ringAcross = false;
    cases.push_back({"decimated analysis, 8-bit stereo at 48000 Hz", clipped, true});
    return cases;
}

TEST(LoopFinderTest, FindsTheKnownLoopToTheFrame) {
    for (const FindCase& c : FindCases()) {
        SCOPED_TRACE(c.name);
        const wave::ParsedWave wave = Read(c.music);
        const std::vector<finder::LoopCandidate> found = finder::FindLoops(wave.format, wave.data);
        if (found.empty()) {
            ADD_FAILURE() << "no candidate";
            continue;
        }
        EXPECT_EQ(found[0].end - found[0].start, static_cast<std::int32_t>(c.music.loopFrames));
        EXPECT_TRUE(found[0].passes) << found[0].qualityDb << " dB";
        if (c.startsWhereLoopStarts) {
            EXPECT_EQ(found[0].start, static_cast<std::int32_t>(c.music.introFrames));
        }
        const wave::LoopLimits limits = wave::LoopLimitsOf(wave.format, wave.dataBytes);
        for (const finder::LoopCandidate& candidate : found) {
            EXPECT_TRUE(wave::KeepsLoopRule(limits, candidate.start, candidate.end))
                << candidate.start << " " << candidate.end;
        }
    }
}

TEST(LoopFinderTest, RefineRecoversTheLoopFromFourTenthsOfASecondOff) {
    LoopedMusic music = Music(testwave::Pcm(16, 2, 11025), 1.5, 4.2);
    music.ringAcross = false;  // the passes agree from the loop's first frame, and not before
    const wave::ParsedWave wave = Read(music);
    const auto start = static_cast<std::int32_t>(music.introFrames);
    const auto end = static_cast<std::int32_t>(music.introFrames + music.loopFrames);
    const auto off = static_cast<std::int32_t>(0.4 * music.format.rate);
    // Every start from the loop's own on repeats: of those as seamless as it, the nearest to the
    // points given, the loop's own where it is as near as any.
    const struct {
        std::int32_t start, end, expected;
    } rows[] = {{start + off, end - off, start},
                {start - off, end + off, start},
                {start + off, end + off, start + off}};
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "from " << row.start << " " << row.end);
        const std::optional<finder::LoopCandidate> refined =
            finder::RefineLoop(wave.format, wave.data, row.start, row.end, 0.5);
        if (!refined) {
            ADD_FAILURE() << "nothing refined";
            continue;
        }
        EXPECT_EQ(refined->start, row.expected);
        EXPECT_EQ(refined->end, row.expected + (end - start));
        EXPECT_TRUE(refined->passes) << refined->qualityDb;
    }
}

// Marks inside the repeating part, where any start repeats: the refine may move each point only
// as far as the radius lets it, the end too.
TEST(LoopFinderTest, RefineMovesEachPointAtMostTheRadius) {
    LoopedMusic music = Music(testwave::Pcm(16, 1, 11025), 1.0, 4.4);
    music.ringAcross = false;
    const wave::ParsedWave wave = Read(music);
    const double rate = music.format.rate;
    const auto start = static_cast<std::int32_t>(music.introFrames + 1.5 * rate);
    const auto loop = static_cast<std::int32_t>(music.loopFrames);
    const struct {
        double endOffSeconds, radiusSeconds;
    } rows[] = {{0.3, 0.25}, {0.3, 0.4}, {-0.3, 0.25}, {-0.3, 0.4}, {0.0, 0.1}};
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "end " << row.endOffSeconds << " s off, radius "
                                        << row.radiusSeconds << " s");
        const auto end = static_cast<std::int32_t>(start + loop + row.endOffSeconds * rate);
        const auto refined =
            finder::RefineLoop(wave.format, wave.data, start, end, row.radiusSeconds);
        if (!refined) {
            ADD_FAILURE() << "nothing refined";
            continue;
        }
        const double radius = std::round(row.radiusSeconds * rate);
        EXPECT_EQ(refined->end - refined->start, loop);
        EXPECT_LE(std::abs(refined->start - start), radius) << refined->start;
        EXPECT_LE(std::abs(refined->end - end), radius) << refined->end;
    }
}

TEST(LoopFinderTest, NothingForSoundsThatDoNotRepeatOrCannotBeSaved) {
    const testwave::Bytes noiseFile =
        testwave::Wave(testwave::Pcm(16, 1, 11025), testwave::Noise(11025 * 2 * 8));
    const wave::ParsedWave noiseWave =
        wave::ParseWave(std::span<const std::uint8_t>(noiseFile)).wave;
    EXPECT_TRUE(finder::FindLoops(noiseWave.format, noiseWave.data).empty());

    // The slowest rate the reader takes: five frames, too few to analyse, and nothing breaks.
    const testwave::Bytes slowFile = testwave::Wave(testwave::Pcm(8, 1, 1), testwave::Noise(5));
    const wave::ParsedWave slow = wave::ParseWave(std::span<const std::uint8_t>(slowFile)).wave;
    EXPECT_TRUE(finder::FindLoops(slow.format, slow.data).empty());
    const auto refined = finder::RefineLoop(slow.format, slow.data, 0, 2, 10.0);
    if (refined) {
        EXPECT_LE(refined->start + 2, refined->end);
    }

    wave::ParsedWave inconsistent = Read(Music(testwave::Pcm(16, 2, 11025), 1.3, 4.37));
    inconsistent.format.nBlockAlign = 3;  // the reader takes it; no loop of it could be saved
    EXPECT_TRUE(finder::FindLoops(inconsistent.format, inconsistent.data).empty());
}

// The batch work to come runs the finder on several files at once: the same sound must give the
// same candidates, bit for bit, every time and from two threads together.
TEST(LoopFinderTest, SameSoundSameCandidatesAlsoFromTwoThreads) {
    const wave::ParsedWave wave = Read(FindCases().front().music);
    const std::vector<finder::LoopCandidate> first = finder::FindLoops(wave.format, wave.data);
    ASSERT_FALSE(first.empty());
    const auto same = [&first](const std::vector<finder::LoopCandidate>& other) {
        if (other.size() != first.size()) return false;
        for (std::size_t i = 0; i < first.size(); ++i) {
            if (other[i].start != first[i].start || other[i].end != first[i].end ||
                std::memcmp(&other[i].qualityDb, &first[i].qualityDb, sizeof(double)) != 0 ||
                other[i].repeatSeconds != first[i].repeatSeconds ||
                other[i].passes != first[i].passes)
                return false;
        }
        return true;
    };
    EXPECT_TRUE(same(finder::FindLoops(wave.format, wave.data)));
    std::vector<finder::LoopCandidate> inThreads[2];
    std::thread a([&] { inThreads[0] = finder::FindLoops(wave.format, wave.data); });
    std::thread b([&] { inThreads[1] = finder::FindLoops(wave.format, wave.data); });
    a.join();
    b.join();
    EXPECT_TRUE(same(inThreads[0]));
    EXPECT_TRUE(same(inThreads[1]));
}

}  // namespace

// The loop starts at frame 0 and ends before the sound does, and nothing rings across its end.
// Its passes open with a rest, in digital silence or in dither, and every start in that rest
// is as seamless as the first note. From points moved apart or the same way within the radius,
// refine finds the loop: its length, a seam that passes, each point within the radius; and
// where the points given make a loop as seamless as any, that loop.
TEST(LoopFinderTest, RefineFindsALoopFromFrameZeroFromPointsMovedEitherWay) {
    const struct {
        const char* name;
        testwave::Format format;
        double restSeconds;
        bool dither;
    } sounds[] = {{"no rest", testwave::Pcm(16, 2, 11025), 0.0, false},
                  {"a rest in silence", testwave::Pcm(16, 2, 11025), 0.62, false},
                  {"a rest in dither", testwave::Pcm(16, 2, 11025), 0.62, true},
                  {"a rest in dither, 8-bit mono", testwave::Pcm(8, 1, 8000), 0.62, true}};
    const struct {
        double startOff, endOff;
        bool atPoints;  // the points given are a loop as seamless as any
    } rows[] = {{0.2, -0.29, false}, {0.2, 0.2, true},    {0.45, 0.1, false},
                {0.1, 0.45, false},  {0.0, 0.0, true},    {0.3, -0.45, false},
                {0.49, 0.49, true},  {0.01, -0.4, false}, {0.05, -0.49, false}};
    for (const auto& sound : sounds) {
        LoopedMusic music = Music(sound.format, 0.0, 4.37);
        music.ringAcross = false;
        music.restSeconds = sound.restSeconds;
        music.dither = sound.dither;
        const wave::ParsedWave wave = Read(music);
        const double rate = sound.format.rate;
        const double radius = std::round(0.5 * rate);
        const auto loop = static_cast<std::int32_t>(music.loopFrames);
        for (const auto& row : rows) {
            const auto start = static_cast<std::int32_t>(row.startOff * rate);
            const auto end = static_cast<std::int32_t>(loop + row.endOff * rate);
            SCOPED_TRACE(testing::Message() << sound.name << ", from " << start << " " << end);
            const auto refined = finder::RefineLoop(wave.format, wave.data, start, end, 0.5);
            if (!refined) {
                ADD_FAILURE() << "nothing refined";
                continue;
            }
            EXPECT_EQ(refined->end - refined->start, loop);
            EXPECT_TRUE(refined->passes) << refined->qualityDb;
            EXPECT_LE(std::abs(refined->start - start), radius) << refined->start;
            EXPECT_LE(std::abs(refined->end - end), radius) << refined->end;
            if (row.atPoints) {
                EXPECT_EQ(refined->start, start);
            }
        }
    }
}

// The refine rule: given the finder's own best loop, refine answers those points again, or a
// loop whose seam is better by more than sameSeamDb; never one that is worse. Material whose
// passes differ (codec noise, dither, hiss) is where a start nearer the edge of the radius used
// to win with a seam several dB worse.
TEST(LoopFinderTest, RefineKeepsTheFindersOwnPointsUnlessClearlyBetter) {
    const struct {
        const char* name;
        testwave::Format format;
        double intro, loop, noiseDb;
        bool dither;
    } rows[] = {
        {"codec noise 16 dB below, 16-bit stereo", testwave::Pcm(16, 2, 22050), 1.2, 4.3, -16.0,
         false},
        {"codec noise 25 dB below, 16-bit mono", testwave::Pcm(16, 1, 16000), 0.8, 5.1, -25.0,
         false},
        {"8-bit mono with dither", testwave::Pcm(8, 1, 11025), 1.0, 4.1, -1000.0, true},
        {"hiss 40 dB below, 16-bit stereo", testwave::Pcm(16, 2, 16000), 1.5, 3.9, -40.0, false},
    };
    const finder::FinderOptions options;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        LoopedMusic music = Music(row.format, row.intro, row.loop);
        music.noiseDb = row.noiseDb;
        music.dither = row.dither;
        const wave::ParsedWave wave = Read(music);
        const auto found = finder::FindLoops(wave.format, wave.data);
        ASSERT_FALSE(found.empty());
        for (const finder::LoopCandidate& given : found) {
            if (!given.passes) continue;
            SCOPED_TRACE(testing::Message() << "from " << given.start << " " << given.end << ", "
                                            << given.qualityDb << " dB");
            const auto refined =
                finder::RefineLoop(wave.format, wave.data, given.start, given.end, 0.5);
            if (!refined) {
                ADD_FAILURE() << "nothing refined";
                continue;
            }
            const bool same = refined->start == given.start && refined->end == given.end;
            EXPECT_TRUE(same || refined->qualityDb > given.qualityDb + options.sameSeamDb)
                << refined->start << " " << refined->end << ", " << refined->qualityDb << " dB";
            EXPECT_GE(refined->qualityDb, given.qualityDb - 0.05);
        }
    }
}
