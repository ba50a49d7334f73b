// SPDX-License-Identifier: GPL-3.0-or-later
// Reading a wave file from the file system: a good file, a cut one, and what cannot be opened.
#include "files/wave_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tests/support/wave_bytes.h"
#include "wave/user_texts.h"

namespace {

using testwave::Bytes;
using wave::WaveError;

// 8-bit mono at 8 frames per second: 5 seconds are 40 bytes.
const testwave::Format kTiny = testwave::Pcm(8, 1, 8);

TEST(WaveFile, ReadsFilesAndReportsWhatCannotBeOpened) {
    testwave::TempDir dir;
    const Bytes file = testwave::Wave(kTiny, testwave::Pattern(41));
    testwave::WriteFile(dir.path + "/a.wav", file);
    const wave::ParseResult read = files::ReadWaveFile(dir.path + "/a.wav");
    ASSERT_EQ(read.error, WaveError::None);
    EXPECT_EQ(read.wave.data, testwave::Pattern(41));

    testwave::WriteFile(dir.path + "/short.wav", Bytes(file.begin(), file.end() - 1));
    EXPECT_EQ(files::ReadWaveFile(dir.path + "/short.wav").error, WaveError::BadChunkSize);

    ASSERT_EQ(::mkfifo((dir.path + "/fifo.wav").c_str(), 0600), 0);  // must not wait for a writer
    for (const std::string& path : {dir.path + "/missing.wav", dir.path, dir.path + "/fifo.wav"}) {
        const wave::ParseResult r = files::ReadWaveFile(path);
        EXPECT_EQ(r.error, WaveError::CannotOpen) << path;
        EXPECT_EQ(wave::UserMessage(r.error), "ファイルを開けませんでした");
    }
    if (::geteuid() != 0) {  // root reads whatever the mode says
        ::chmod((dir.path + "/a.wav").c_str(), 0);
        EXPECT_EQ(files::ReadWaveFile(dir.path + "/a.wav").error, WaveError::CannotOpen);
    }
}

}  // namespace
