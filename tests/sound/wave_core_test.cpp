// The reader's verdicts on byte-built files, the derived numbers and the seam preview fill.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "sound/wave_core.h"
#include "tests/support/wave_bytes.h"

namespace {

using testwave::Bytes;
using wavemisc::WaveError;

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

testwave::Format With(testwave::Format f, std::uint32_t testwave::Format::*field, std::uint32_t value) {
    f.*field = value;
    return f;
}

Bytes WithRiffSize(Bytes file, std::uint32_t size) {
    for (int i = 0; i < 4; ++i) file[4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(size >> (8 * i));
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
        {"JustUnderFiveSeconds", testwave::Wave(cd, Bytes(881999)), WaveError::TooShort, 881999 + 44, kTooShort},
        {"EmptyFile", {}, WaveError::BadRiffHeader, 0, kBadRiff},
        {"ElevenBytes", Bytes(plain.begin(), plain.begin() + 11), WaveError::BadRiffHeader, 0, kBadRiff},
        {"RiffSizeLengthPlus8", WithRiffSize(plain, len + 8), WaveError::None, -1, ""},
        {"RiffSizeLengthPlus9", WithRiffSize(plain, len + 9), WaveError::BadRiffHeader, 0, kBadRiff},
        {"NotRiff", testwave::Join({Bytes{'R', 'I', 'F', 'X'}, Bytes(plain.begin() + 4, plain.end())}), WaveError::BadRiffHeader, 0, kBadRiff},
        {"NotWave", testwave::Join({Bytes(plain.begin(), plain.begin() + 8), Bytes{'W', 'A', 'V', 'f'}, goodChunks}), WaveError::BadRiffHeader, 0, kBadRiff},
        {"NegativeRiffSizeReadsNoChunk", WithRiffSize(plain, 0x80000000u), WaveError::NotWave, 12, kNotWave},
        {"RiffSizeEndsBeforeData", WithRiffSize(plain, 4 + 24), WaveError::NotWave, 36, kNotWave},
        {"Fmt18Accepted", testwave::Riff(testwave::Join({fmt18, Data(40)})), WaveError::None, -1, ""},
        {"FloatTag", testwave::Riff(testwave::Join({Fmt(With(kTiny, &F::tag, 3)), Data(40)})), WaveError::NotPcm, 12, kNotPcm},
        {"ExtensibleTag", testwave::Riff(testwave::Join({Fmt(With(kTiny, &F::tag, 0xFFFE)), Data(40)})), WaveError::NotPcm, 12, kNotPcm},
        {"Fmt14", testwave::Riff(testwave::Join({fmt14, Data(40)})), WaveError::BadChunkSize, 12, kBadSize},
        {"EmptyListAfterGoodChunks", testwave::Riff(testwave::Join({goodChunks, testwave::ChunkClaiming("LIST", 0, {})})), WaveError::BadChunkSize, 12 + 24 + 48, kBadSize},
        {"Bits24", testwave::Riff(testwave::Join({Fmt(With(kTiny, &F::bits, 24)), Data(40)})), WaveError::BadFormat, 12, kBadFormat},
        {"Channels3", testwave::Riff(testwave::Join({Fmt(With(kTiny, &F::channels, 3)), Data(40)})), WaveError::BadFormat, 12, kBadFormat},
        {"ChannelsMinus1", testwave::Riff(testwave::Join({Fmt(With(kTiny, &F::channels, 0xFFFF)), Data(40)})), WaveError::BadFormat, 12, kBadFormat},
        {"Rate0", testwave::Riff(testwave::Join({Fmt(With(kTiny, &F::rate, 0)), Data(40)})), WaveError::BadFormat, 12, kBadFormat},
        {"Avg0", testwave::Riff(testwave::Join({Fmt(With(kTiny, &F::avgBytes, 0)), Data(40)})), WaveError::BadFormat, 12, kBadFormat},
        {"BlockAlign0Accepted", testwave::Riff(testwave::Join({Fmt(With(kTiny, &F::blockAlign, 0)), Data(40)})), WaveError::None, -1, ""},
        {"DataBeforeFmt", testwave::Riff(testwave::Join({Data(40), Fmt(kTiny)})), WaveError::None, -1, ""},
        {"ValidFmtThenInvalidFmt", testwave::Riff(testwave::Join({goodChunks, Fmt(With(kTiny, &F::rate, 0))})), WaveError::BadFormat, 12 + 24 + 48, kBadFormat},
        {"NoData", testwave::Riff(Fmt(kTiny)), WaveError::NotWave, 36, kNotWave},
        {"NoFmt", testwave::Riff(Data(40)), WaveError::NotWave, 60, kNotWave},
        // The pad byte is read as the first byte of the next id; "\0dat" is skipped with the
        // size made of 'a' and the data size's low bytes (0x2861), past the extent.
        {"PadByteShiftsNextHeader", testwave::Riff(testwave::Join({Fmt(kTiny), Chunk("junk", Bytes{1, 2, 3}), Bytes{0}, Data(40)})), WaveError::NotWave, 12 + 24 + 11 + 8 + 0x2861, kNotWave},
        // A lone pad byte at the end cannot hold a header: the walk ends there.
        {"LonePadByteAtEnd", testwave::Riff(testwave::Join({goodChunks, Chunk("junk", Bytes{1, 2, 3}), Bytes{0}})), WaveError::None, -1, ""},
        {"UnknownChunkPastFileEndIsSkipped", testwave::Riff(testwave::Join({goodChunks, testwave::ChunkClaiming("junk", 1000, {1, 2})})), WaveError::None, -1, ""},
        {"DataPayloadBeyondFile", testwave::Riff(testwave::Join({Fmt(kTiny), testwave::ChunkClaiming("data", 41, testwave::Pattern(40))})), WaveError::BadChunkSize, 36, kBadSize},
        {"FmtBlockBeyondFile", testwave::Riff(testwave::ChunkClaiming("fmt ", 16, Bytes(10))), WaveError::BadChunkSize, 12, kBadSize},
        {"Data2GiBOver10Bytes", testwave::Riff(testwave::Join({Fmt(kTiny), testwave::ChunkClaiming("data", 0x80000000u, Bytes(10))})), WaveError::BadChunkSize, 36, kBadSize},
        {"DataSizeInt32Max", testwave::Riff(testwave::Join({Fmt(kTiny), testwave::ChunkClaiming("data", 0x7FFFFFFFu, Bytes(10))})), WaveError::BadChunkSize, 36, kBadSize},
        {"SkippedChunkEndingPast32Bits", testwave::Riff(testwave::Join({goodChunks, testwave::ChunkClaiming("junk", 0x7FFFFFF0u, Bytes(10))})), WaveError::BadChunkSize, 84, kBadSize},
        {"FmtEndingPast32BitsTag3", testwave::Riff(testwave::ChunkClaiming("fmt ", 0x7FFFFFF0u, testwave::FmtPayload(With(kTiny, &F::tag, 3)))), WaveError::NotPcm, 12, kNotPcm},
        {"FmtEndingPast32BitsPcm", testwave::Riff(testwave::ChunkClaiming("fmt ", 0x7FFFFFF0u, testwave::FmtPayload(kTiny))), WaveError::BadChunkSize, 12, kBadSize},
        {"AvgInt32Max", testwave::Riff(testwave::Join({Fmt(With(kTiny, &F::avgBytes, 0x7FFFFFFFu)), Data(40)})), WaveError::BadFormat, 12, kBadFormat},
        {"RateTimes4Overflows", testwave::Riff(testwave::Join({Fmt(With(kTiny, &F::rate, 0x20000000u)), Data(40)})), WaveError::BadFormat, 12, kBadFormat},
        {"RateTimes4JustFits", testwave::Riff(testwave::Join({Fmt(With(kTiny, &F::rate, 0x1FFFFFFFu)), Data(40)})), WaveError::None, -1, ""},
    };
}

TEST(WaveReader, RefusesAndAcceptsByTheRules) {
    for (const ReaderRow& row : ReaderRows()) {
        SCOPED_TRACE(row.name);
        const wavemisc::ParseResult result = wavemisc::ParseWave(row.bytes);
        EXPECT_EQ(result.error, row.error);
        if (row.offset >= 0) {
            EXPECT_EQ(result.offset, row.offset);
        }
        EXPECT_EQ(wavemisc::UserMessage(result.error), row.message);
        if (result.error != WaveError::None) {
            EXPECT_TRUE(result.wave.data.empty());
        }
        // A walk that skips the payload answers the same for every file.
        const wavemisc::ParseResult headers = wavemisc::ParseWave(row.bytes, wavemisc::Payload::SizeOnly);
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
    const Bytes file = testwave::Riff(testwave::Join({Fmt(first), Data(40), Chunk("fmt ", testwave::Join({testwave::FmtPayload(second), Bytes{9, 9}})), Chunk("data", second48)}));
    const wavemisc::ParseResult result = wavemisc::ParseWave(file);
    ASSERT_EQ(result.error, WaveError::None);
    EXPECT_EQ(result.wave.data, second48);
    EXPECT_EQ(result.wave.dataBytes, 48);
    EXPECT_EQ(result.wave.format.nBlockAlign, 7);
    EXPECT_EQ(wavemisc::FormatBlockBytes(result.wave.format), testwave::FmtPayload(second));
}

class ClaimedSize final : public wavemisc::ByteSource {
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
    EXPECT_EQ(wavemisc::ParseWave(huge).error, WaveError::FileTooLarge);
    EXPECT_EQ(wavemisc::ParseWave(atLimit).error, WaveError::FileTooLarge);
    EXPECT_EQ(wavemisc::ParseWave(below).error, WaveError::BadRiffHeader);
    EXPECT_EQ(wavemisc::UserMessage(WaveError::FileTooLarge), "ファイルが大きすぎます");
    EXPECT_EQ(wavemisc::UserMessage(WaveError::OutOfMemory), "メモリが不足しています");
}


TEST(WaveReader, ReadsFilesAndReportsWhatCannotBeOpened) {
    testwave::TempDir dir;
    const Bytes file = testwave::Wave(kTiny, testwave::Pattern(41));
    testwave::WriteFile(dir.path + "/a.wav", file);
    const wavemisc::ParseResult read = wavemisc::ReadWaveFile(dir.path + "/a.wav");
    ASSERT_EQ(read.error, WaveError::None);
    EXPECT_EQ(read.wave.data, testwave::Pattern(41));

    testwave::WriteFile(dir.path + "/short.wav", Bytes(file.begin(), file.end() - 1));
    EXPECT_EQ(wavemisc::ReadWaveFile(dir.path + "/short.wav").error, WaveError::BadChunkSize);

    ASSERT_EQ(::mkfifo((dir.path + "/fifo.wav").c_str(), 0600), 0);  // must not wait for a writer
    for (const std::string& path : {dir.path + "/missing.wav", dir.path, dir.path + "/fifo.wav"}) {
        const wavemisc::ParseResult r = wavemisc::ReadWaveFile(path);
        EXPECT_EQ(r.error, WaveError::CannotOpen) << path;
        EXPECT_EQ(wavemisc::UserMessage(r.error), "ファイルを開けませんでした");
    }
    if (::geteuid() != 0) {  // root reads whatever the mode says
        ::chmod((dir.path + "/a.wav").c_str(), 0);
        EXPECT_EQ(wavemisc::ReadWaveFile(dir.path + "/a.wav").error, WaveError::CannotOpen);
    }
}

// ---- Derived numbers ---------------------------------------------------------------------

wavemisc::PcmFormat Format(std::int16_t bits, std::int16_t channels, std::int32_t rate) {
    const auto align = static_cast<std::int16_t>(bits / 8 * channels);
    return {1, channels, rate, rate * align, align, bits};
}

TEST(DerivedNumbers, LastFrameRoundsHalfToEven) {
    struct Row { std::int16_t bits, channels; std::int64_t dataBytes; std::int32_t last; };
    for (const Row& r : {Row{16, 2, 882000, 220499}, Row{8, 1, 110250, 110249}, Row{16, 1, 220501, 110250},
                         Row{16, 1, 220503, 110250}, Row{16, 2, 882003, 220500}, Row{8, 1, 0, -1},
                         Row{8, 1, std::int64_t{1} << 40, 2147483647}, Row{0, 1, 1000, -1}, Row{16, 0, 1000, -1}}) {
        EXPECT_EQ(wavemisc::LastFrameOf(Format(r.bits, r.channels, 8000), r.dataBytes), r.last)
            << r.bits << " bits " << r.channels << " ch " << r.dataBytes;
    }
    EXPECT_EQ(wavemisc::HalfWindowFrames(Format(16, 2, 44100)), 88200);
    EXPECT_EQ(wavemisc::HalfWindowFrames(Format(8, 1, 11025)), 22050);
}

TEST(DerivedNumbers, InformationTextHasSevenAlignedLines) {
    const std::string text = wavemisc::JoinLines(
        wavemisc::InformationLines("/music/a b.wav", Format(16, 2, 44100), 882000), "\r\n");
    EXPECT_EQ(text,
              "ファイル名              ： /music/a b.wav\r\n"
              "サンプリングレート      ： 44100Hz\r\n"
              "サンプリングビット数    ： 16bit\r\n"
              "ステレオ,モノラル       ： ステレオ\r\n"
              "1秒あたりのデータサイズ ： 176400byte\r\n"
              "データサイズ            ： 882000\r\n"
              "再生時間                ： 5.00秒");

    const auto mono = wavemisc::InformationLines("x", Format(8, 1, 22050), 110250);
    ASSERT_EQ(mono.size(), 7u);
    EXPECT_EQ(mono[3], "ステレオ,モノラル       ： モノラル");
    EXPECT_EQ(mono[6], "再生時間                ： 5.00秒");
    EXPECT_EQ(wavemisc::InformationLines("x", Format(8, 1, 10000), 56689)[6], "再生時間                ： 5.67秒");
    EXPECT_EQ(wavemisc::InformationLines("x", Format(8, 1, 2), 2469)[6], "再生時間                ： 1234.50秒");
}

// ---- The seam preview --------------------------------------------------------------------

TEST(SeamPreview, CopiesTwoSecondsEitherSideOfTheSeam) {
    const wavemisc::PcmFormat f = Format(16, 2, 44100);
    const Bytes sound = testwave::Pattern(2000000);
    Bytes preview(705600);
    ASSERT_EQ(wavemisc::FillPreview(f, sound, 100000, 500000, preview), "");
    EXPECT_TRUE(std::equal(preview.begin(), preview.begin() + 352800, sound.begin() + 1647200));
    EXPECT_TRUE(std::equal(preview.begin() + 352800, preview.end(), sound.begin() + 400000));

    // The tightest loop: both halves are the same two seconds.
    ASSERT_EQ(wavemisc::FillPreview(f, sound, 0, 88200, preview), "");
    EXPECT_TRUE(std::equal(preview.begin(), preview.begin() + 352800, preview.begin() + 352800));
}

TEST(SeamPreview, RefusesWhatWouldLeaveTheSoundAndTouchesNothing) {
    const wavemisc::PcmFormat f = Format(8, 1, 11025);  // H = 22050 bytes
    wavemisc::PcmFormat inconsistent = f;
    inconsistent.nAvgBytesPerSec = 2 * f.nAvgBytesPerSec;
    const Bytes sound = testwave::Pattern(60000);
    struct Row { const char* name; wavemisc::PcmFormat format; std::int32_t start, end; std::size_t previewBytes; };
    for (const Row& r : {Row{"inconsistent", inconsistent, 0, 30000, 176400}, Row{"wrong buffer", f, 0, 30000, 44099},
                         Row{"end too near the start of the sound", f, 0, 22049, 44100},
                         Row{"end beyond the sound", f, 0, 60001, 44100}, Row{"start beyond the sound", f, 37951, 60000, 44100},
                         Row{"negative start", f, -1, 30000, 44100}}) {
        Bytes preview(r.previewBytes, 0xAB);
        EXPECT_NE(wavemisc::FillPreview(r.format, sound, r.start, r.end, preview), "") << r.name;
        EXPECT_EQ(preview, Bytes(r.previewBytes, 0xAB)) << r.name;
    }
    Bytes preview(44100);
    EXPECT_EQ(wavemisc::FillPreview(f, sound, 37950, 60000, preview), "");  // both halves end at the last byte
}

}  // namespace
