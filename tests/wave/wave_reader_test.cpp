// SPDX-License-Identifier: GPL-3.0-or-later
// The reader's verdicts on byte-built files.
#include "wave/wave_reader.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/wave_bytes.h"
#include "wave/pcm_format.h"
#include "wave/riff_reader.h"
#include "wave/user_texts.h"

namespace {

using testwave::Bytes;
using wave::WaveError;

constexpr const char* kBadRiff = "不正なRIFFヘッダです";
constexpr const char* kBadSize = "不正なチャンクサイズです";
constexpr const char* kNotPcm = "非圧縮形式以外は未対応です";
constexpr const char* kBadFormat = "不正なフォーマットです";
constexpr const char* kNotWave = "不正なwaveファイルです";
constexpr const char* kTooShort = "ファイルが短すぎます。5秒以上のファイルを選択してください";

// 8-bit mono at 8 frames per second: 5 seconds are 40 bytes, so every file stays tiny.
const testwave::Format kTiny = testwave::Pcm(8, 1, 8);

using testwave::Chunk;

Bytes Fmt(testwave::Format f) { return Chunk("fmt ", testwave::FmtPayload(f)); }
Bytes Data(std::size_t size) { return Chunk("data", testwave::Pattern(size)); }

testwave::Format With(testwave::Format f, std::uint32_t testwave::Format::*field,
                      std::uint32_t value) {
    f.*field = value;
    return f;
}

Bytes WithRiffSize(Bytes file, std::uint32_t size) {
    for (int i = 0; i < 4; ++i)
        file[4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(size >> (8 * i));
    return file;
}

struct ReaderRow {
    const char* name;
    Bytes bytes;
    WaveError error;
    std::int64_t offset;  // -1: not checked
    const char* message;  // the exact user text
};

std::vector<ReaderRow> ReaderRows() {
    const Bytes plain = testwave::Wave(kTiny, testwave::Pattern(40));
    const std::uint32_t len = static_cast<std::uint32_t>(plain.size());
    const Bytes goodChunks = testwave::Join({Fmt(kTiny), Data(40)});
    const Bytes fmt18 = Chunk("fmt ", testwave::Join({testwave::FmtPayload(kTiny), Bytes{0, 0}}));
    const Bytes block = testwave::FmtPayload(kTiny);
    const Bytes fmt14 = Chunk("fmt ", Bytes(block.begin(), block.begin() + 14));
    const testwave::Format cd = testwave::Pcm(16, 2, 44100);
    using F = testwave::Format;
    return {
        {"PlainFile", plain, WaveError::None, len, ""},
        {"FiveSecondsExactly", testwave::Wave(cd, Bytes(882000)), WaveError::None, -1, ""},
        {"JustUnderFiveSeconds", testwave::Wave(cd, Bytes(881999)), WaveError::TooShort,
         881999 + 44, kTooShort},
        {"EmptyFile", {}, WaveError::BadRiffHeader, 0, kBadRiff},
        {"ElevenBytes", Bytes(plain.begin(), plain.begin() + 11), WaveError::BadRiffHeader, 0,
         kBadRiff},
        {"RiffSizeLengthPlus8", WithRiffSize(plain, len + 8), WaveError::None, -1, ""},
        {"RiffSizeLengthPlus9", WithRiffSize(plain, len + 9), WaveError::BadRiffHeader, 0,
         kBadRiff},
        {"NotRiff",
         testwave::Join({Bytes{'R', 'I', 'F', 'X'}, Bytes(plain.begin() + 4, plain.end())}),
         WaveError::BadRiffHeader, 0, kBadRiff},
        {"NotWave",
         testwave::Join(
             {Bytes(plain.begin(), plain.begin() + 8), Bytes{'W', 'A', 'V', 'f'}, goodChunks}),
         WaveError::BadRiffHeader, 0, kBadRiff},
        {"NegativeRiffSizeReadsNoChunk", WithRiffSize(plain, 0x80000000u), WaveError::NotWave, 12,
         kNotWave},
        {"RiffSizeEndsBeforeData", WithRiffSize(plain, 4 + 24), WaveError::NotWave, 36, kNotWave},
        {"Fmt18Accepted", testwave::Riff(testwave::Join({fmt18, Data(40)})), WaveError::None, -1,
         ""},
        {"FloatTag", testwave::Riff(testwave::Join({Fmt(With(kTiny, &F::tag, 3)), Data(40)})),
         WaveError::NotPcm, 12, kNotPcm},
        {"ExtensibleTag",
         testwave::Riff(testwave::Join({Fmt(With(kTiny, &F::tag, 0xFFFE)), Data(40)})),
         WaveError::NotPcm, 12, kNotPcm},
        {"Fmt14", testwave::Riff(testwave::Join({fmt14, Data(40)})), WaveError::BadChunkSize, 12,
         kBadSize},
        {"EmptyListAfterGoodChunks",
         testwave::Riff(testwave::Join({goodChunks, testwave::ChunkClaiming("LIST", 0, {})})),
         WaveError::BadChunkSize, 12 + 24 + 48, kBadSize},
        {"Bits24", testwave::Riff(testwave::Join({Fmt(With(kTiny, &F::bits, 24)), Data(40)})),
         WaveError::BadFormat, 12, kBadFormat},
        {"Channels3", testwave::Riff(testwave::Join({Fmt(With(kTiny, &F::channels, 3)), Data(40)})),
         WaveError::BadFormat, 12, kBadFormat},
        {"ChannelsMinus1",
         testwave::Riff(testwave::Join({Fmt(With(kTiny, &F::channels, 0xFFFF)), Data(40)})),
         WaveError::BadFormat, 12, kBadFormat},
        {"Rate0", testwave::Riff(testwave::Join({Fmt(With(kTiny, &F::rate, 0)), Data(40)})),
         WaveError::BadFormat, 12, kBadFormat},
        {"Avg0", testwave::Riff(testwave::Join({Fmt(With(kTiny, &F::avgBytes, 0)), Data(40)})),
         WaveError::BadFormat, 12, kBadFormat},
        {"BlockAlign0Accepted",
         testwave::Riff(testwave::Join({Fmt(With(kTiny, &F::blockAlign, 0)), Data(40)})),
         WaveError::None, -1, ""},
        {"DataBeforeFmt", testwave::Riff(testwave::Join({Data(40), Fmt(kTiny)})), WaveError::None,
         -1, ""},
        {"ValidFmtThenInvalidFmt",
         testwave::Riff(testwave::Join({goodChunks, Fmt(With(kTiny, &F::rate, 0))})),
         WaveError::BadFormat, 12 + 24 + 48, kBadFormat},
        {"NoData", testwave::Riff(Fmt(kTiny)), WaveError::NotWave, 36, kNotWave},
        {"NoFmt", testwave::Riff(Data(40)), WaveError::NotWave, 60, kNotWave},
        // The pad byte is read as the first byte of the next id; "\0dat" is skipped with the
        // size made of 'a' and the data size's low bytes (0x2861), past the extent.
        {"PadByteShiftsNextHeader",
         testwave::Riff(
             testwave::Join({Fmt(kTiny), Chunk("junk", Bytes{1, 2, 3}), Bytes{0}, Data(40)})),
         WaveError::NotWave, 12 + 24 + 11 + 8 + 0x2861, kNotWave},
        // A lone pad byte at the end cannot hold a header: the walk ends there.
        {"LonePadByteAtEnd",
         testwave::Riff(testwave::Join({goodChunks, Chunk("junk", Bytes{1, 2, 3}), Bytes{0}})),
         WaveError::None, -1, ""},
        {"UnknownChunkPastFileEndIsSkipped",
         testwave::Riff(
             testwave::Join({goodChunks, testwave::ChunkClaiming("junk", 1000, {1, 2})})),
         WaveError::None, -1, ""},
        {"DataPayloadBeyondFile",
         testwave::Riff(testwave::Join(
             {Fmt(kTiny), testwave::ChunkClaiming("data", 41, testwave::Pattern(40))})),
         WaveError::BadChunkSize, 36, kBadSize},
        {"FmtBlockBeyondFile", testwave::Riff(testwave::ChunkClaiming("fmt ", 16, Bytes(10))),
         WaveError::BadChunkSize, 12, kBadSize},
        {"Data2GiBOver10Bytes",
         testwave::Riff(
             testwave::Join({Fmt(kTiny), testwave::ChunkClaiming("data", 0x80000000u, Bytes(10))})),
         WaveError::BadChunkSize, 36, kBadSize},
        {"DataSizeInt32Max",
         testwave::Riff(
             testwave::Join({Fmt(kTiny), testwave::ChunkClaiming("data", 0x7FFFFFFFu, Bytes(10))})),
         WaveError::BadChunkSize, 36, kBadSize},
        {"SkippedChunkEndingPast32Bits",
         testwave::Riff(
             testwave::Join({goodChunks, testwave::ChunkClaiming("junk", 0x7FFFFFF0u, Bytes(10))})),
         WaveError::BadChunkSize, 84, kBadSize},
        {"FmtEndingPast32BitsTag3",
         testwave::Riff(testwave::ChunkClaiming("fmt ", 0x7FFFFFF0u,
                                                testwave::FmtPayload(With(kTiny, &F::tag, 3)))),
         WaveError::NotPcm, 12, kNotPcm},
        {"FmtEndingPast32BitsPcm",
         testwave::Riff(testwave::ChunkClaiming("fmt ", 0x7FFFFFF0u, testwave::FmtPayload(kTiny))),
         WaveError::BadChunkSize, 12, kBadSize},
        {"AvgInt32Max",
         testwave::Riff(testwave::Join({Fmt(With(kTiny, &F::avgBytes, 0x7FFFFFFFu)), Data(40)})),
         WaveError::BadFormat, 12, kBadFormat},
        {"RateTimes4Overflows",
         testwave::Riff(testwave::Join({Fmt(With(kTiny, &F::rate, 0x20000000u)), Data(40)})),
         WaveError::BadFormat, 12, kBadFormat},
        {"RateTimes4JustFits",
         testwave::Riff(testwave::Join({Fmt(With(kTiny, &F::rate, 0x1FFFFFFFu)), Data(40)})),
         WaveError::None, -1, ""},
    };
}

TEST(WaveReader, RefusesAndAcceptsByTheRules) {
    for (const ReaderRow& row : ReaderRows()) {
        SCOPED_TRACE(row.name);
        const wave::ParseResult result = wave::ParseWave(row.bytes);
        EXPECT_EQ(result.error, row.error);
        if (row.offset >= 0) {
            EXPECT_EQ(result.offset, row.offset);
        }
        EXPECT_EQ(wave::UserMessage(result.error), row.message);
        if (result.error != WaveError::None) {
            EXPECT_TRUE(result.wave.data.empty());
        }
        // A walk that skips the payload answers the same for every file.
        const wave::ParseResult headers = wave::ParseWave(row.bytes, wave::Payload::SizeOnly);
        EXPECT_EQ(headers.error, result.error);
        EXPECT_EQ(headers.offset, result.offset);
        EXPECT_EQ(headers.wave.dataBytes, result.wave.dataBytes);
        EXPECT_EQ(headers.wave.format, result.wave.format);
        EXPECT_TRUE(headers.wave.data.empty());
    }
}

TEST(WaveReader, KeepsTheLastFormatAndDataVerbatim) {
    testwave::Format first = kTiny;
    testwave::Format second = With(kTiny, &testwave::Format::blockAlign, 7);  // kept although wrong
    const Bytes second48 = testwave::Pattern(48);
    const Bytes file = testwave::Riff(
        testwave::Join({Fmt(first), Data(40),
                        Chunk("fmt ", testwave::Join({testwave::FmtPayload(second), Bytes{9, 9}})),
                        Chunk("data", second48)}));
    const wave::ParseResult result = wave::ParseWave(file);
    ASSERT_EQ(result.error, WaveError::None);
    EXPECT_EQ(result.wave.data, second48);
    EXPECT_EQ(result.wave.dataBytes, 48);
    EXPECT_EQ(result.wave.format.nBlockAlign, 7);
    EXPECT_EQ(wave::FormatBlockBytes(result.wave.format), testwave::FmtPayload(second));
}

class ClaimedSize final : public wave::ByteSource {
public:
    explicit ClaimedSize(std::int64_t size) : size_(size) {}
    std::int64_t Size() const override { return size_; }
    bool Read(std::int64_t, std::uint8_t* dest, std::size_t size) override {
        std::fill_n(dest, size, std::uint8_t{0});
        return true;
    }

private:
    std::int64_t size_;
};

TEST(WaveReader, RefusesFilesBeyondThirtyTwoBitOffsets) {
    ClaimedSize huge(std::int64_t{1} << 31);
    ClaimedSize atLimit((std::int64_t{1} << 31) - 8);
    ClaimedSize below((std::int64_t{1} << 31) - 9);
    EXPECT_EQ(wave::ParseWave(huge).error, WaveError::FileTooLarge);
    EXPECT_EQ(wave::ParseWave(atLimit).error, WaveError::FileTooLarge);
    EXPECT_EQ(wave::ParseWave(below).error, WaveError::BadRiffHeader);
    EXPECT_EQ(wave::UserMessage(WaveError::FileTooLarge), "ファイルが大きすぎます");
    EXPECT_EQ(wave::UserMessage(WaveError::OutOfMemory), "メモリが不足しています");
}

}  // namespace
