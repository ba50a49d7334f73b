// SPDX-License-Identifier: GPL-3.0-or-later
// What the window's tests leave to module wavemisc: the refusals a rip can meet, a 24-bit rip's
// saves, and a file changed since it was opened. The rips are encoded by libsndfile.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/loaded_sound.h"
#include "app/preview_device.h"
#include "platform/virtual_wave_out.h"
#include "tests/support/encoded_music.h"
#include "wave/user_texts.h"

namespace wavemisc {
namespace {

namespace fs = std::filesystem;

class LoadedFormatsTest : public ::testing::Test {
protected:
    void SetUp() override { platform::UseWaveOut(&device); }
    void TearDown() override {
        ClosePreviewDevice();
        platform::UseWaveOut(nullptr);
    }

    std::string Rip(const std::string& name, const testwave::RipFormat& format) {
        const std::string path = temp.path + "/" + name + format.extension;
        EXPECT_EQ(testwave::EncodeRip(path, format), "");
        return path;
    }

    platform::VirtualWaveOut device;
    testwave::TempDir temp;
};

// A 24-bit wave file and a file no reader takes keep the wave reader's messages; a rip cut short
// names where its decoding stopped. None touches the sound that was loaded, nor the device.
TEST_F(LoadedFormatsTest, RefusedFilesLeaveTheLoadedSoundAlone) {
    const std::string good = Rip("good", testwave::kOggVorbis);
    ASSERT_EQ(LoadWave(good), "");
    const std::vector<std::uint8_t> sound = SoundData;
    const std::string text = temp.path + "/notes.ogg";
    testwave::WriteFile(text, testwave::Bytes{'h', 'e', 'l', 'l', 'o'});
    const std::string cut = temp.path + "/cut.ogg";
    testwave::Bytes half = testwave::ReadFile(good);
    half.resize(half.size() / 2);
    testwave::WriteFile(cut, half);

    struct Row {
        std::string path;
        bool decodes;
        std::string message;  // its beginning, for a cut file
    };
    for (const Row& row : {Row{Rip("wide", testwave::kWave24), false, "不正なフォーマットです"},
                           Row{text, false, "不正なRIFFヘッダです"},
                           Row{cut, true, "デコードに失敗しました：" + cut + "（フレーム "}}) {
        SCOPED_TRACE(row.path);
        device.ClearRecord();
        EXPECT_EQ(LoadDecodes(row.path), row.decodes);
        const std::string message = LoadWave(row.path);
        EXPECT_EQ(message.substr(0, row.message.size()), row.message);
        EXPECT_TRUE(row.decodes || message == row.message) << message;
        EXPECT_TRUE(device.calls.empty());
        EXPECT_TRUE(SoundData == sound);
        EXPECT_EQ(SoundFile.path, good);
    }
}

// A 24-bit rip keeps its bits in FLAC and is refused as a wave file; any name of no format we
// write gets the wave file, byte for byte.
TEST_F(LoadedFormatsTest, SavesOfA24BitRip) {
    const testwave::LoopedMusic music = testwave::RipMusic();
    const auto start = static_cast<std::int32_t>(music.introFrames);
    const auto end = static_cast<std::int32_t>(music.introFrames + music.loopFrames);
    const std::string source = Rip("source", testwave::kFlac24);
    ASSERT_EQ(LoadWave(source), "");

    const std::string flac = temp.path + "/OUT.FLAC";
    ASSERT_EQ(SaveLoopedWave(flac, 2, 0, start, end), "");
    const testwave::Decoded written = testwave::DecodeFile(flac);
    EXPECT_EQ(written.sfFormat, SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
    EXPECT_EQ(written.frames, end + std::int64_t{music.loopFrames});
    const std::vector<std::int32_t> samples = testwave::DecodeFile(source).samples;
    const auto body = static_cast<std::ptrdiff_t>(end) * 2;
    ASSERT_GE(written.samples.size(), static_cast<std::size_t>(body));
    EXPECT_TRUE(
        std::equal(written.samples.begin(), written.samples.begin() + body, samples.begin()))
        << "the intro and the first pass are not the source's 24-bit samples";

    const std::string wave = temp.path + "/out.wav";
    EXPECT_EQ(SaveLoopedWave(wave, 2, 0, start, end), wave::ResolutionWouldBeLost(24, ".wav"));
    EXPECT_FALSE(fs::exists(wave));

    ASSERT_EQ(LoadWave(Rip("plain", testwave::kFlac16)), "");
    const std::string other = temp.path + "/out.loop";
    ASSERT_EQ(SaveLoopedWave(other, 2, 0, start, end), "");
    const testwave::Bytes pcm = testwave::RenderLoopedMusic(music);
    testwave::Bytes data(pcm.begin(), pcm.begin() + end * 4);
    data.insert(data.end(), pcm.begin() + start * 4, pcm.begin() + end * 4);
    EXPECT_TRUE(testwave::ReadFile(other) == testwave::Wave(music.format, data));
}

// A file changed since it was opened (here, saved over with another sound) may not hold the
// sound the loop was chosen in: it is refused until it is opened again.
TEST_F(LoadedFormatsTest, AFileChangedSinceItOpenedIsNotTagged) {
    const std::string path = Rip("changed", testwave::kOggVorbis);
    ASSERT_EQ(LoadWave(path), "");
    fs::copy_file(Rip("other", testwave::kMp3), path, fs::copy_options::overwrite_existing);
    const testwave::Bytes replaced = testwave::ReadFile(path);
    EXPECT_EQ(WriteLoopIntoFile(30000, 150000), wave::kTagFileChanged);
    EXPECT_TRUE(testwave::ReadFile(path) == replaced);

    ASSERT_EQ(LoadWave(path), "");
    EXPECT_EQ(WriteLoopIntoFile(30000, 150000), "");
    EXPECT_EQ(WriteLoopIntoFile(30001, 150000), "") << "its own write is no change";
    EXPECT_EQ(testwave::TagProperty(path, "LOOPSTART"), "30001");
}

}  // namespace
}  // namespace wavemisc
