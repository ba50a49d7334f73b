// The seam finder on small synthetic sounds whose loop is known.
#include "finder/loop_finder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <span>
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

// An intro, the loop twice and a second of a third pass, in seconds.
LoopedMusic Music(testwave::Format format, double introSeconds, double loopSeconds) {
    LoopedMusic m;
    m.format = format;
    m.introFrames = static_cast<std::uint32_t>(introSeconds * format.rate);
    m.loopFrames = static_cast<std::uint32_t>(loopSeconds * format.rate);
    m.totalFrames = m.introFrames + 2 * m.loopFrames + format.rate;
    return m;
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
        const wave::ParsedWave wave = Read(c.music);
        const std::vector<finder::LoopCandidate> found =
            finder::FindLoops(wave.format, wave.data);
        ASSERT_FALSE(found.empty()) << c.name;
        EXPECT_EQ(found[0].end - found[0].start, static_cast<std::int32_t>(c.music.loopFrames))
            << c.name;
        EXPECT_TRUE(found[0].passes) << c.name << ": " << found[0].qualityDb << " dB";
        if (c.startsWhereLoopStarts) {
            EXPECT_EQ(found[0].start, static_cast<std::int32_t>(c.music.introFrames)) << c.name;
        }

        const std::int64_t halfWindow = wave::HalfWindowFrames(wave.format);
        const std::int32_t lastFrame = wave::LastFrameOf(wave.format, wave.dataBytes);
        for (const finder::LoopCandidate& candidate : found) {
            EXPECT_GE(candidate.start, 0) << c.name;
            EXPECT_LE(candidate.start + halfWindow, candidate.end) << c.name;
            EXPECT_LE(candidate.end, lastFrame) << c.name;
        }
    }
}

TEST(LoopFinderTest, RefineRecoversTheExactLoopFromFourTenthsOfASecondOff) {
    LoopedMusic music = Music(testwave::Pcm(16, 2, 11025), 1.5, 4.2);
    music.ringAcross = false;  // the passes agree from the loop's first frame, and not before
    const wave::ParsedWave wave = Read(music);
    const auto start = static_cast<std::int32_t>(music.introFrames);
    const auto end = static_cast<std::int32_t>(music.introFrames + music.loopFrames);
    const auto off = static_cast<std::int32_t>(0.4 * music.format.rate);
    const struct {
        std::int32_t start, end;
    } rows[] = {{start + off, end - off}, {start - off, end + off}, {start + off, end + off}};
    for (const auto& row : rows) {
        const std::optional<finder::LoopCandidate> refined =
            finder::RefineLoop(wave.format, wave.data, row.start, row.end, 0.5);
        ASSERT_TRUE(refined) << row.start << " " << row.end;
        EXPECT_EQ(refined->start, start) << row.start << " " << row.end;
        EXPECT_EQ(refined->end, end) << row.start << " " << row.end;
        EXPECT_TRUE(refined->passes) << refined->qualityDb;
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

}  // namespace
