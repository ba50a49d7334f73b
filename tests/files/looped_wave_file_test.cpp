// SPDX-License-Identifier: GPL-3.0-or-later
// The looped file on disk: written whole through the atomic save, over the file it was read
// from too, and nothing left behind when it is refused.
#include "files/looped_wave_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "files/atomic_save.h"
#include "files/wave_file.h"
#include "tests/support/wave_bytes.h"
#include "tests/support/wave_layer.h"
#include "wave/looped_wave.h"
#include "wave/pcm_format.h"
#include "wave/wave_reader.h"

namespace {

using testwave::Bytes;
using wave::LoopRequest;
using wave::PcmFormat;

std::vector<std::string> Entries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(LoopedWaveFile, LastFrameLoopLeavesOutTheLastByte) {
    testwave::TempDir dir;
    const std::string path = dir.path + "/out.wav";
    const PcmFormat f = testwave::PcmFormatOf(8, 1, 22050);
    const Bytes sound = testwave::Pattern(220500);
    ASSERT_EQ(files::WriteLoopedWaveFile(path, f, sound, {0, 220499, 1, 0}), "");
    const Bytes out = testwave::ReadFile(path);
    ASSERT_EQ(out.size(), 220543u);
    EXPECT_EQ(out[4] | out[5] << 8 | out[6] << 16 | out[7] << 24, 220535);
    const wave::ParseResult back = wave::ParseWave(out);
    ASSERT_EQ(back.error, wave::WaveError::None);
    EXPECT_EQ(back.wave.format, f);
    EXPECT_EQ(back.wave.data, Bytes(sound.begin(), sound.end() - 1));
    EXPECT_EQ(Entries(dir.path), std::vector<std::string>{"out.wav"});
    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0666u & ~mask);  // a new file gets the usual mode
}

TEST(LoopedWaveFile, ReplacesWholeKeepsModeAndLeavesNothingOnFailure) {
    testwave::TempDir dir;
    const std::string path = dir.path + "/out.wav";
    const PcmFormat f = testwave::PcmFormatOf(8, 1, 8);
    const Bytes sound = testwave::Pattern(40);

    testwave::WriteFile(path, Bytes(100000, 0xEE));
    ::chmod(path.c_str(), 0640);
    ASSERT_EQ(files::WriteLoopedWaveFile(path, f, sound, {5, 20, 1, 0}), "");
    EXPECT_EQ(testwave::ReadFile(path).size(), 44u + 20u);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    // Too large: refused before anything is created, the old file untouched.
    const Bytes before = testwave::ReadFile(path);
    const std::string refused = files::WriteLoopedWaveFile(path, f, sound, {0, 10, 2147483647, 0});
    EXPECT_EQ(refused, "保存に失敗しました：ファイルが大きすぎます");
    EXPECT_EQ(testwave::ReadFile(path), before);

    // A folder that does not exist, and a folder in the way: refused, nothing anywhere.
    EXPECT_EQ(files::WriteLoopedWaveFile(dir.path + "/none/out.wav", f, sound, {5, 20, 1, 0}),
              "保存に失敗しました：保存先のフォルダがありません");
    std::filesystem::create_directory(dir.path + "/taken");
    EXPECT_NE(files::WriteLoopedWaveFile(dir.path + "/taken", f, sound, {5, 20, 1, 0}), "");
    EXPECT_EQ(Entries(dir.path), (std::vector<std::string>{"out.wav", "taken"}));
    EXPECT_EQ(testwave::ReadFile(path), before);
}

TEST(LoopedWaveFile, SavesOverTheFileItWasLoadedFrom) {
    testwave::TempDir dir;
    const std::string path = dir.path + "/song.wav";
    testwave::WriteFile(path, testwave::Wave(testwave::Pcm(8, 1, 8), testwave::Pattern(60)));
    const wave::ParseResult loaded = files::ReadWaveFile(path);
    ASSERT_EQ(loaded.error, wave::WaveError::None);
    ASSERT_EQ(
        files::WriteLoopedWaveFile(path, loaded.wave.format, loaded.wave.data, {10, 50, 2, 1}), "");
    const wave::ParseResult again = files::ReadWaveFile(path);
    ASSERT_EQ(again.error, wave::WaveError::None);
    ASSERT_EQ(again.wave.data.size(), 10u + 80u + 8u);
    EXPECT_TRUE(std::equal(
        again.wave.data.begin(), again.wave.data.begin() + 90,
        testwave::RenderToMemory(loaded.wave.format, loaded.wave.data, {10, 50, 2, 1}).begin() +
            44));
}

TEST(LoopedWaveFile, WritesPartsAtomically) {
    testwave::TempDir dir;
    const Bytes a{1, 2, 3};
    const Bytes b{4, 5};
    const std::span<const std::uint8_t> parts[] = {a, {}, b};
    ASSERT_EQ(files::SaveAtomically(dir.path + "/p.wav", parts), "");
    EXPECT_EQ(testwave::ReadFile(dir.path + "/p.wav"), (Bytes{1, 2, 3, 4, 5}));
    EXPECT_EQ(Entries(dir.path), std::vector<std::string>{"p.wav"});
}

}  // namespace
