// SPDX-License-Identifier: GPL-3.0-or-later
// Every format we read, through the real libraries: libsndfile encodes each from looped music
// whose loop is known, our reader decodes it, the loop is tagged into the file, and TagLib and
// libsndfile read the tags back while the decoded samples and the other tags stay as they were.
// Then the looped sound written in each format and read back.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <taglib/fileref.h>
#include <taglib/tpropertymap.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "files/loop_tags.h"
#include "files/sound_file.h"
#include "files/sound_writer.h"
#include "tests/support/looped_music.h"

namespace {

namespace fs = std::filesystem;
using files::Depth;

constexpr int kRate = 48000;  // Opus takes it, and its positions are counted at it

testwave::LoopedMusic Music() {
    testwave::LoopedMusic m;
    m.format = testwave::Pcm(16, 2, kRate);
    m.introFrames = static_cast<std::uint32_t>(1.1 * kRate);
    m.loopFrames = static_cast<std::uint32_t>(3.3 * kRate);
    m.totalFrames = m.introFrames + 3 * m.loopFrames + kRate;
    return m;
}

// The music as 32-bit samples; with `lowBits`, a pattern below the 16 bits, so that a 24-bit
// file holds more than 16 bits can.
std::vector<std::int32_t> Samples(const testwave::LoopedMusic& m, bool lowBits) {
    const testwave::Bytes bytes = testwave::RenderLoopedMusic(m);
    std::vector<std::int32_t> samples(bytes.size() / 2);
    for (std::size_t k = 0; k < samples.size(); ++k) {
        const auto s = static_cast<std::int16_t>(bytes[2 * k] | bytes[2 * k + 1] << 8);
        samples[k] = s * 65536 + (lowBits ? static_cast<std::int32_t>((k * 37) % 256) * 256 : 0);
    }
    return samples;
}

std::string Encode(const fs::path& path, int format, const std::vector<std::int32_t>& samples) {
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = 2;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) return sf_strerror(nullptr);
    sf_write_int(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
    return "";
}

std::vector<std::int32_t> DecodeInts(const fs::path& path, SF_INFO& info) {
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) return {};
    std::vector<std::int32_t> samples(static_cast<std::size_t>(info.frames * info.channels));
    sf_readf_int(file, samples.data(), info.frames);
    sf_close(file);
    return samples;
}

struct Row {
    const char* name;
    const char* extension;
    int format;
    Depth depth;
    bool taggable;  // TagLib reads its tags back (a wave file's smpl is read by libsndfile)
};

const Row kRows[] = {
    {"FLAC 16-bit", ".flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, Depth::Bits16, true},
    {"FLAC 24-bit", ".flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, Depth::Bits24, true},
    {"Ogg Vorbis", ".ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, Depth::Coded, true},
    {"Ogg Opus", ".opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, Depth::Coded, true},
    {"MP3", ".mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, Depth::Coded, true},
    {"wave, 24-bit", ".wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, Depth::Bits24, false},
    {"wave, floating point", ".wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, Depth::Float, false},
    {"wave, extensible 16-bit", ".wav", SF_FORMAT_WAVEX | SF_FORMAT_PCM_16, Depth::Bits16, false},
    {"AIFF", ".aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, Depth::Bits16, false},
};

class Formats : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("rundelt-formats-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }
    fs::path folder_;
};

std::string Property(const fs::path& path, const char* name) {
    const TagLib::FileRef ref(path.c_str());
    if (ref.isNull()) return "(unreadable)";
    const TagLib::StringList values = ref.file()->properties()[name];
    return values.size() == 1 ? values.front().to8Bit(true)
                              : std::to_string(values.size()) + " values";
}

TEST_F(Formats, EachIsReadTaggedAndDecodesTheSameAfterwards) {
    const testwave::LoopedMusic music = Music();
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.name);
        const fs::path path = folder_ / (std::string("rip") + row.extension);
        ASSERT_EQ(Encode(path, row.format, Samples(music, row.depth == Depth::Bits24)), "");
        if (row.taggable) {
            TagLib::FileRef ref(path.c_str());
            ASSERT_FALSE(ref.isNull());
            ref.tag()->setTitle("Kept");
            ASSERT_TRUE(ref.save());
        }
        const files::SoundRead before =
            files::ReadSound(path, files::WaveReaders::AlsoOtherSampleFormats);
        ASSERT_EQ(before.error, "");
        EXPECT_EQ(before.sound.depth, row.depth);
        EXPECT_EQ(before.sound.wave.dataBytes, std::int64_t{music.totalFrames} * 4);

        // Tagged twice, the second loop replacing the first.
        const files::LoopTag tag{music.introFrames, music.loopFrames};
        const std::string first = files::TagFile(path, before.sound, {7, 99});
        if (row.extension == std::string(".aiff")) {
            EXPECT_NE(first, "");
            continue;
        }
        ASSERT_EQ(first, "");
        ASSERT_EQ(files::TagFile(path, before.sound, tag), "");
        const files::SoundRead after =
            files::ReadSound(path, files::WaveReaders::AlsoOtherSampleFormats);
        ASSERT_EQ(after.error, "");
        EXPECT_TRUE(after.sound.wave.data == before.sound.wave.data) << "decoded samples changed";
        EXPECT_TRUE(after.sound.wide == before.sound.wide);
        if (row.taggable) {
            EXPECT_EQ(Property(path, "LOOPSTART"), std::to_string(tag.start));
            EXPECT_EQ(Property(path, "LOOPLENGTH"), std::to_string(tag.length));
            EXPECT_EQ(Property(path, "TITLE"), "Kept");
        } else {
            SF_INFO info{};
            SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
            ASSERT_NE(file, nullptr);
            SF_INSTRUMENT instrument{};
            EXPECT_EQ(sf_command(file, SFC_GET_INSTRUMENT, &instrument, sizeof instrument),
                      SF_TRUE);
            sf_close(file);
            EXPECT_EQ(instrument.loop_count, 1);
            EXPECT_EQ(instrument.loops[0].start, tag.start);
            // libsndfile gives the loop's end as the frame after it.
            EXPECT_EQ(instrument.loops[0].end - instrument.loops[0].start, tag.length);
        }
    }
}

// The looped sound in each format: as long as the plan says, its loop in its tags, a lossless
// copy holding the source's own samples; and the outputs that would lose them refused.
TEST_F(Formats, TheLoopedSoundIsWrittenInEachFormatWithItsTags) {
    const testwave::LoopedMusic music = Music();
    const fs::path source = folder_ / "source.flac";
    const std::vector<std::int32_t> samples = Samples(music, true);
    ASSERT_EQ(Encode(source, SF_FORMAT_FLAC | SF_FORMAT_PCM_24, samples), "");
    const files::SoundRead read = files::ReadSound(source, files::WaveReaders::AsTheWindow);
    ASSERT_EQ(read.error, "");
    wave::LoopRequest request;
    request.loopStart = static_cast<std::int32_t>(music.introFrames);
    request.loopEnd = static_cast<std::int32_t>(music.introFrames + music.loopFrames);
    request.repeatCount = 2;
    request.fadeSeconds = 1;
    const std::int64_t frames = music.introFrames + 2 * std::int64_t{music.loopFrames} + kRate;

    struct Output {
        files::OutputFormat format;
        const char* name;
    };
    for (const Output& output : {Output{files::OutputFormat::Flac, "out.flac"},
                                 Output{files::OutputFormat::Ogg, "out.ogg"},
                                 Output{files::OutputFormat::Opus, "out.opus"},
                                 Output{files::OutputFormat::Mp3, "out.mp3"}}) {
        SCOPED_TRACE(output.name);
        const fs::path path = folder_ / output.name;
        ASSERT_EQ(files::WriteLoopedSound(path, read.sound, request, {output.format, 6, true}), "");
        SF_INFO info{};
        const std::vector<std::int32_t> decoded = DecodeInts(path, info);
        EXPECT_EQ(info.frames, frames);
        EXPECT_EQ(Property(path, "LOOPSTART"), std::to_string(music.introFrames));
        EXPECT_EQ(Property(path, "LOOPLENGTH"), std::to_string(music.loopFrames));
        if (output.format == files::OutputFormat::Flac) {
            // The intro and the first pass are the source's 24-bit samples, exactly.
            const auto body = static_cast<std::size_t>(request.loopEnd) * 2;
            ASSERT_GE(decoded.size(), body);
            EXPECT_TRUE(std::equal(decoded.begin(),
                                   decoded.begin() + static_cast<std::ptrdiff_t>(body),
                                   samples.begin()));
        }
    }
    EXPECT_NE(files::CheckEncoding(read.sound, {files::OutputFormat::Wav}), "");

    const fs::path floats = folder_ / "float.wav";
    ASSERT_EQ(Encode(floats, SF_FORMAT_WAV | SF_FORMAT_FLOAT, samples), "");
    const files::SoundRead floatRead =
        files::ReadSound(floats, files::WaveReaders::AlsoOtherSampleFormats);
    ASSERT_EQ(floatRead.error, "");
    EXPECT_NE(files::CheckEncoding(floatRead.sound, {files::OutputFormat::Flac}), "");
    EXPECT_EQ(files::CheckEncoding(floatRead.sound, {files::OutputFormat::Ogg}), "");
    files::Sound at44100 = floatRead.sound;
    at44100.wave.format.nSamplesPerSec = 44100;
    EXPECT_NE(files::CheckEncoding(at44100, {files::OutputFormat::Opus}), "");
}

}  // namespace
