// SPDX-License-Identifier: GPL-3.0-or-later
// The SDL2 device end to end under SDL's disk driver, which writes what the device plays into a
// file: silence while idle, the block's bytes while it plays. It paces itself only roughly, so
// the block is looked for inside the file and timings allow 100 ms either way.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/sdl_wave_out.h"
#include "platform/wave_out.h"
#include "tests/platform/device_formats.h"
#include "tests/support/wave_bytes.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::uint32_t kHeaderBytes = sizeof(WAVEHDR);
constexpr std::uint32_t kRate = 8000;
constexpr std::uint32_t kBlockFrames = kRate;  // one second
constexpr std::uint32_t kFramesPer100Ms = kRate / 10;

// No byte is 0, so the block can never be mistaken for silence; blocks of different steps share
// no run of 64 bytes.
std::vector<std::uint8_t> Recognisable(std::size_t size, unsigned step) {
    std::vector<std::uint8_t> out(size);
    for (std::size_t k = 0; k < size; ++k)
        out[k] = static_cast<std::uint8_t>(1 + (k * step + k / 253) % 255);
    return out;
}

std::size_t Find(const std::vector<std::uint8_t>& haystack, const std::uint8_t* needle,
                 std::size_t size) {
    const auto at = std::search(haystack.begin(), haystack.end(), needle, needle + size);
    return at == haystack.end() ? std::string::npos
                                : static_cast<std::size_t>(at - haystack.begin());
}

class SdlWaveOutTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern =
            std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/sdlwave.XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder = pattern;
        outputFile = folder + "/device.raw";
        // Read when SDL's audio starts, which the backend does at its first open.
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", outputFile.c_str(), 1);
    }
    void TearDown() override {
        UseWaveOut(nullptr);
        std::remove(outputFile.c_str());
        rmdir(folder.c_str());
    }

    std::uint32_t Position(HWAVEOUT handle) {
        MMTIME time{};
        time.wType = TIME_SAMPLES;
        EXPECT_EQ(waveOutGetPosition(handle, &time, sizeof time), 0u);
        return time.sample;
    }

    std::string folder;
    std::string outputFile;
};

TEST_F(SdlWaveOutTest, OpenRefusesWhatItCannotPlay) {
    SdlWaveOut sdl;
    UseWaveOut(&sdl);
    WAVEFORMAT inconsistent = Pcm16Stereo(44100);
    inconsistent.nAvgBytesPerSec = 44100;
    WAVEFORMAT threeChannels = Pcm16Stereo(8000);
    threeChannels.nChannels = 3;
    threeChannels.nBlockAlign = 6;
    threeChannels.nAvgBytesPerSec = 48000;
    const struct {
        const char* name;
        WAVEFORMAT format;
    } rows[] = {
        {"768000 Hz", Pcm16Stereo(768000)},
        {"inconsistent block", inconsistent},
        {"three channels", threeChannels},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        HWAVEOUT handle = 0;
        EXPECT_EQ(waveOutOpen(&handle, WAVE_MAPPER, &row.format, 0, 0, CALLBACK_NULL),
                  WAVERR_BADFORMAT);
        EXPECT_EQ(handle, 0u);
    }
    // The highest rate served still opens.
    HWAVEOUT handle = 0;
    const WAVEFORMAT highest = Pcm16Stereo(384000);
    ASSERT_EQ(waveOutOpen(&handle, WAVE_MAPPER, &highest, 0, 0, CALLBACK_NULL), 0u);
    EXPECT_EQ(waveOutClose(handle), 0u);
}

TEST_F(SdlWaveOutTest, BufferIsTenToTwentyMilliseconds) {
    for (std::uint32_t rate : {100u, 8000u, 11025u, 44100u, 48000u, 96000u, 384000u}) {
        SCOPED_TRACE(rate);
        const double ms = SdlWaveOut::BufferFrames(rate) * 1000.0 / rate;
        EXPECT_GE(ms, 10.0);
        EXPECT_LE(ms, 20.0);
    }
    EXPECT_EQ(SdlWaveOut::BufferFrames(1), 1u);
}

TEST_F(SdlWaveOutTest, PlaysTheBlockOnceAndResetStopsIt) {
    SdlWaveOut sdl;
    UseWaveOut(&sdl);
    const WAVEFORMAT format = Pcm16Stereo(kRate);
    HWAVEOUT handle = 0;
    ASSERT_EQ(waveOutOpen(&handle, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), 0u);

    std::vector<std::uint8_t> first = Recognisable(kBlockFrames * 4, 7);
    WAVEHDR header;
    header.lpData = first.data();
    header.dwBufferLength = static_cast<std::uint32_t>(first.size());
    header.dwFlags = WHDR_BEGINLOOP | WHDR_ENDLOOP;
    header.dwLoops = 1;
    ASSERT_EQ(waveOutPrepareHeader(handle, &header, kHeaderBytes), 0u);
    const auto started = Clock::now();
    ASSERT_EQ(waveOutWrite(handle, &header, kHeaderBytes), 0u);

    // Rises without going back, and reaches the block's length after about one second.
    std::uint32_t last = 0;
    bool sawMiddle = false;
    while (last < kBlockFrames && Clock::now() - started < 5s) {
        std::this_thread::sleep_for(5ms);
        const std::uint32_t now = Position(handle);
        EXPECT_GE(now, last);
        EXPECT_LE(now, kBlockFrames);
        if (now > 0 && now < kBlockFrames) sawMiddle = true;
        last = now;
    }
    const auto playedMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
    ASSERT_EQ(last, kBlockFrames) << "never reached the end";
    EXPECT_TRUE(sawMiddle);
    EXPECT_GE(playedMs, 900) << "the block was consumed faster than it plays";
    RecordProperty("playedMs", static_cast<int>(playedMs));
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(Position(handle), kBlockFrames) << "stays at the block's length after its end";

    // A second block, stopped by a reset part-way through.
    std::vector<std::uint8_t> second = Recognisable(kBlockFrames * 4, 11);
    ASSERT_EQ(waveOutReset(handle), 0u);
    EXPECT_EQ(Position(handle), 0u);
    std::copy(second.begin(), second.end(), first.begin());  // the header points at `first`
    ASSERT_EQ(waveOutWrite(handle, &header, kHeaderBytes), 0u);
    std::uint32_t beforeReset = 0;
    const auto secondStarted = Clock::now();
    while (beforeReset < kBlockFrames / 4 && Clock::now() - secondStarted < 5s) {
        std::this_thread::sleep_for(5ms);
        beforeReset = Position(handle);
    }
    ASSERT_GE(beforeReset, kBlockFrames / 4);
    ASSERT_EQ(waveOutReset(handle), 0u);
    EXPECT_EQ(Position(handle), 0u);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(Position(handle), 0u) << "nothing plays after a reset";
    ASSERT_EQ(waveOutUnprepareHeader(handle, &header, kHeaderBytes), 0u);
    ASSERT_EQ(waveOutClose(handle), 0u);

    // The device file: silence, the whole first block once, silence, part of the second block,
    // then only silence.
    const std::vector<std::uint8_t> played = testwave::ReadFile(outputFile);
    const std::vector<std::uint8_t> original = Recognisable(kBlockFrames * 4, 7);
    const std::size_t firstAt = Find(played, original.data(), original.size());
    ASSERT_NE(firstAt, std::string::npos) << "the first block never reached the device";
    const std::vector<std::uint8_t> rest(played.begin() + static_cast<std::ptrdiff_t>(firstAt + 1),
                                         played.end());
    EXPECT_EQ(Find(rest, original.data(), original.size()), std::string::npos)
        << "the block played more than once";

    const std::size_t secondAt = Find(played, second.data(), 64);
    ASSERT_NE(secondAt, std::string::npos) << "the second block never reached the device";
    ASSERT_GT(secondAt, firstAt + original.size());
    std::size_t matched = 0;
    while (secondAt + matched < played.size() && matched < second.size() &&
           played[secondAt + matched] == second[matched]) {
        ++matched;
    }
    const std::size_t framesOut = matched / 4;
    RecordProperty("framesBeforeReset", static_cast<int>(beforeReset));
    RecordProperty("framesReachingDevice", static_cast<int>(framesOut));
    EXPECT_GE(framesOut + kFramesPer100Ms, beforeReset);
    EXPECT_LE(framesOut, beforeReset + kFramesPer100Ms) << "block bytes went on after the reset";
    const bool silentAfter =
        std::all_of(played.begin() + static_cast<std::ptrdiff_t>(secondAt + matched), played.end(),
                    [](std::uint8_t b) { return b == 0; });
    EXPECT_TRUE(silentAfter) << "only silence may follow the reset";
}

}  // namespace
}  // namespace platform
