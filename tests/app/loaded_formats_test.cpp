// SPDX-License-Identifier: GPL-3.0-or-later
// The loaded sound from every format the file layer reads, through the real libraries:
// libsndfile encodes the rips, LoadWave opens them as the window does, a save writes the format
// its name asks for, and the loop is written into the opened file and read back with TagLib and
// libsndfile, the file's sound unchanged.
#include <gtest/gtest.h>
#include <sndfile.h>

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
using testwave::RipFormat;

// The block a decoded rip becomes: 16-bit stereo at 48 kHz, whatever the source's depth.
const testwave::Format kDecoded = testwave::Pcm(16, 2, testwave::kRipRate);

class LoadedFormatsTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 ("rundelt-loaded-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(folder);
        platform::UseWaveOut(&device);
    }
    void TearDown() override {
        ClosePreviewDevice();
        platform::UseWaveOut(nullptr);
        fs::remove_all(folder);
    }

    std::string Rip(const std::string& name, const RipFormat& format) {
        const std::string path = (folder / (name + format.extension)).string();
        EXPECT_EQ(testwave::EncodeRip(path, format), "");
        return path;
    }

    platform::VirtualWaveOut device;
    fs::path folder;
};

// The loop of a wave file's "smpl" chunk as libsndfile reads it: start and length, or -1.
std::pair<std::int64_t, std::int64_t> SamplerLoop(const std::string& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) return {-1, -1};
    SF_INSTRUMENT instrument{};
    const bool has =
        sf_command(file, SFC_GET_INSTRUMENT, &instrument, sizeof instrument) == SF_TRUE;
    sf_close(file);
    if (!has || instrument.loop_count != 1) return {-1, -1};
    // libsndfile gives the loop's end as the frame after it.
    return {instrument.loops[0].start, instrument.loops[0].end - instrument.loops[0].start};
}

TEST_F(LoadedFormatsTest, EachFormatLoadsAsItsDecoded16BitSound) {
    const testwave::LoopedMusic music = testwave::RipMusic();
    for (const RipFormat& format : {testwave::kFlac16, testwave::kFlac24, testwave::kOggVorbis,
                                    testwave::kOggOpus, testwave::kMp3, testwave::kAiff}) {
        SCOPED_TRACE(format.name);
        const std::string path = Rip("rip", format);
        const testwave::Decoded reference = testwave::DecodeFile(path);
        ASSERT_GT(reference.frames, 0);
        EXPECT_TRUE(LoadDecodes(path));
        device.ClearRecord();
        ASSERT_EQ(LoadWave(path), "");

        EXPECT_EQ(SoundFormat.wFormatTag, 1);
        EXPECT_EQ(SoundFormat.nChannels, 2);
        EXPECT_EQ(SoundFormat.nSamplesPerSec, 48000);
        EXPECT_EQ(SoundFormat.nAvgBytesPerSec, 192000);
        EXPECT_EQ(SoundFormat.nBlockAlign, 4);
        EXPECT_EQ(SoundFormat.wBitsPerSample, 16) << "the preview plays 16 bits";
        EXPECT_EQ(DataSize, reference.frames * 4);
        EXPECT_TRUE(SoundData == reference.pcm16) << "not libsndfile's own 16-bit decode";
        EXPECT_EQ(PreviewData.size(), 4u * 192000);
        EXPECT_EQ(device.format.wBitsPerSample, 16u);
        EXPECT_EQ(device.calls.back(), "waveOutOpen");
        EXPECT_EQ(SoundFile.path, path);
        if (format.sfFormat == testwave::kFlac24.sfFormat) {
            EXPECT_TRUE(SoundFile.sound.wide == reference.samples) << "the 24 bits are kept";
        } else {
            EXPECT_TRUE(SoundFile.sound.wide.empty());
        }
        if (format.sfFormat == testwave::kFlac16.sfFormat) {
            EXPECT_TRUE(SoundData == testwave::RenderLoopedMusic(music)) << "FLAC is lossless";
        }
    }
}

// A wave file and a file no reader takes keep the wave reader's messages; a damaged rip names
// where its decoding stopped. None of them touches the sound that was loaded, nor the device.
TEST_F(LoadedFormatsTest, RefusedFilesLeaveTheLoadedSoundAlone) {
    const std::string good = Rip("good", testwave::kOggVorbis);
    ASSERT_EQ(LoadWave(good), "");
    const std::vector<std::uint8_t> sound = SoundData;
    const std::string wide = Rip("wide", testwave::kWave24);
    const std::string text = (folder / "notes.ogg.txt").string();
    testwave::WriteFile(text, testwave::Bytes{'h', 'e', 'l', 'l', 'o'});
    // The first half of an Ogg file: its pages stop in the middle of the stream.
    const std::string cut = (folder / "cut.ogg").string();
    testwave::Bytes half = testwave::ReadFile(good);
    half.resize(half.size() / 2);
    testwave::WriteFile(cut, half);

    struct Row {
        const char* name;
        std::string path;
        bool decodes;
        std::string messageStart;
    };
    const Row rows[] = {
        {"24-bit wave file", wide, false, "不正なフォーマットです"},
        {"no reader takes it", text, false, "不正なRIFFヘッダです"},
        {"Ogg file cut short", cut, true, "デコードに失敗しました：" + cut + "（フレーム "},
        {"no such file", (folder / "gone.flac").string(), false, "ファイルを開けませんでした"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        device.ClearRecord();
        EXPECT_EQ(LoadDecodes(row.path), row.decodes);
        const std::string message = LoadWave(row.path);
        EXPECT_EQ(message.rfind(row.messageStart, 0), 0u) << message;
        if (row.messageStart.back() != ' ') {
            EXPECT_EQ(message, row.messageStart);
        }
        EXPECT_TRUE(device.calls.empty());
        EXPECT_TRUE(SoundData == sound);
        EXPECT_EQ(SoundFile.path, good);
    }
}

// The format of a save is the one its name says, in any case; any other name writes the wave
// file. A 24-bit source keeps its bits in FLAC and is refused where they would be lost.
TEST_F(LoadedFormatsTest, SaveWritesTheFormatItsNameNames) {
    const testwave::LoopedMusic music = testwave::RipMusic();
    const auto start = static_cast<std::int32_t>(music.introFrames);
    const auto end = static_cast<std::int32_t>(music.introFrames + music.loopFrames);
    const std::int64_t frames = end + std::int64_t{music.loopFrames};  // repeat 2, no fade
    const std::string source = Rip("source", testwave::kFlac24);
    const testwave::Decoded sourceSamples = testwave::DecodeFile(source);
    ASSERT_EQ(LoadWave(source), "");

    struct Row {
        const char* name;
        int sfFormat;
    };
    for (const Row& row : {Row{"out.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
                           Row{"OUT.OGG", SF_FORMAT_OGG | SF_FORMAT_VORBIS},
                           Row{"out.oga", SF_FORMAT_OGG | SF_FORMAT_VORBIS},
                           Row{"out.opus", SF_FORMAT_OGG | SF_FORMAT_OPUS},
                           Row{"out.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III}}) {
        SCOPED_TRACE(row.name);
        const std::string out = (folder / row.name).string();
        ASSERT_EQ(SaveLoopedWave(out, 2, 0, start, end), "");
        const testwave::Decoded written = testwave::DecodeFile(out);
        EXPECT_EQ(written.sfFormat & (SF_FORMAT_TYPEMASK | SF_FORMAT_SUBMASK), row.sfFormat);
        EXPECT_EQ(written.frames, frames);
        if (row.sfFormat == (SF_FORMAT_FLAC | SF_FORMAT_PCM_24)) {
            const auto body = static_cast<std::ptrdiff_t>(end) * 2;
            ASSERT_GE(written.samples.size(), static_cast<std::size_t>(body));
            EXPECT_TRUE(std::equal(written.samples.begin(), written.samples.begin() + body,
                                   sourceSamples.samples.begin()))
                << "the intro and the first pass are not the source's 24-bit samples";
        }
    }
    const std::string wave = (folder / "out.wav").string();
    EXPECT_EQ(SaveLoopedWave(wave, 2, 0, start, end), wave::ResolutionWouldBeLost(24, ".wav"));
    EXPECT_FALSE(fs::exists(wave));

    // A 16-bit source under a name of no format we write: the wave file, byte for byte.
    ASSERT_EQ(LoadWave(Rip("plain", testwave::kFlac16)), "");
    const std::string other = (folder / "out.loop").string();
    ASSERT_EQ(SaveLoopedWave(other, 2, 0, start, end), "");
    const testwave::Bytes pcm = testwave::RenderLoopedMusic(music);
    testwave::Bytes data(pcm.begin(), pcm.begin() + end * 4);
    data.insert(data.end(), pcm.begin() + start * 4, pcm.begin() + end * 4);
    EXPECT_TRUE(testwave::ReadFile(other) == testwave::Wave(kDecoded, data));
}

// The loop written into the opened file as `tag` writes it: the comments, the ID3v2 frames or
// the "smpl" chunk hold it; the file decodes to the sound that was loaded. AIFF carries no loop.
TEST_F(LoadedFormatsTest, TheLoopIsWrittenIntoTheOpenedFile) {
    const std::int32_t start = 30000;
    const std::int32_t end = 150000;
    struct Row {
        RipFormat format;
        bool tags;  // TagLib reads the loop back; else libsndfile reads a "smpl" chunk
    };
    const testwave::RipFormat wave16{"wave", ".wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16};
    for (const Row& row :
         {Row{testwave::kOggVorbis, true}, Row{testwave::kOggOpus, true},
          Row{testwave::kFlac16, true}, Row{testwave::kMp3, true}, Row{wave16, false}}) {
        SCOPED_TRACE(row.format.name);
        const std::string path = Rip("tagged", row.format);
        ASSERT_EQ(LoadWave(path), "");
        const std::vector<std::uint8_t> loaded = SoundData;
        ASSERT_EQ(WriteLoopIntoFile(start, end), "");
        if (row.tags) {
            EXPECT_EQ(testwave::TagProperty(path, "LOOPSTART"), "30000");
            EXPECT_EQ(testwave::TagProperty(path, "LOOPLENGTH"), "120000");
        } else {
            EXPECT_EQ(SamplerLoop(path), std::make_pair(std::int64_t{30000}, std::int64_t{120000}));
        }
        EXPECT_TRUE(testwave::DecodeFile(path).pcm16 == loaded) << "the file's sound changed";
        // Written again, the new loop replaces the first.
        ASSERT_EQ(WriteLoopIntoFile(start + 1, end), "");
        if (row.tags) {
            EXPECT_EQ(testwave::TagProperty(path, "LOOPSTART"), "30001");
        }
    }

    const std::string aiff = Rip("tagged", testwave::kAiff);
    ASSERT_EQ(LoadWave(aiff), "");
    const testwave::Bytes before = testwave::ReadFile(aiff);
    const std::string refusal = WriteLoopIntoFile(start, end);
    EXPECT_EQ(refusal.rfind("ループタグを書けません：", 0), 0u) << refusal;
    EXPECT_TRUE(testwave::ReadFile(aiff) == before);
}

// A file changed since it was opened (here, saved over with another sound) may not hold the
// sound the loop was chosen in: it is refused until it is opened again.
TEST_F(LoadedFormatsTest, AFileChangedSinceItOpenedIsNotTagged) {
    const std::string path = Rip("changed", testwave::kOggVorbis);
    ASSERT_EQ(LoadWave(path), "");
    const std::string other = Rip("other", testwave::kMp3);
    fs::copy_file(other, path, fs::copy_options::overwrite_existing);
    const testwave::Bytes replaced = testwave::ReadFile(path);
    EXPECT_EQ(WriteLoopIntoFile(30000, 150000), wave::kTagFileChanged);
    EXPECT_TRUE(testwave::ReadFile(path) == replaced);

    ASSERT_EQ(LoadWave(path), "");
    EXPECT_EQ(WriteLoopIntoFile(30000, 150000), "");
    EXPECT_EQ(testwave::TagProperty(path, "LOOPSTART"), "30000");

    // A loop outside the rules is refused as the command line refuses it.
    EXPECT_EQ(WriteLoopIntoFile(-1, 150000).rfind("ループ範囲が不正です", 0), 0u);
}

}  // namespace
}  // namespace wavemisc
