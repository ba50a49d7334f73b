// SPDX-License-Identifier: GPL-3.0-or-later
// The looped file: its sizes, its bytes and the smpl chunk after them.
#include "wave/looped_wave.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "tests/support/wave_bytes.h"
#include "tests/support/wave_layer.h"
#include "wave/fade.h"
#include "wave/pcm_format.h"
#include "wave/sampler_chunk.h"
#include "wave/user_texts.h"
#include "wave/wave_reader.h"

namespace {

using testwave::Bytes;
using wave::LoopRequest;
using wave::PcmFormat;

// ---- Writer ------------------------------------------------------------------------------

using testwave::MemorySink;

Bytes Render(const PcmFormat& f, const Bytes& sound, LoopRequest r) {
    return testwave::RenderToMemory(f, sound, r);
}

void ExpectSameBytes(const Bytes& actual, const Bytes& expected) {
    const auto diff = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
    EXPECT_TRUE(diff.first == actual.end() && diff.second == expected.end())
        << "first difference at offset " << (diff.first - actual.begin()) << " of " << actual.size()
        << " (expected " << expected.size() << " bytes)";
}

// The tail as the listener hears it: frame k is loop frame k mod L, faded.
Bytes ExpectedTail(const PcmFormat& f, const Bytes& sound, LoopRequest r) {
    const std::size_t ba = static_cast<std::size_t>(f.nBlockAlign);
    const std::size_t loop = static_cast<std::size_t>(r.loopEnd - r.loopStart);
    Bytes tail;
    for (std::size_t k = 0;
         k < static_cast<std::size_t>(r.fadeSeconds) * static_cast<std::size_t>(f.nSamplesPerSec);
         ++k) {
        const std::size_t frame = static_cast<std::size_t>(r.loopStart) + k % loop;
        tail.insert(tail.end(), sound.begin() + static_cast<std::ptrdiff_t>(frame * ba),
                    sound.begin() + static_cast<std::ptrdiff_t>((frame + 1) * ba));
    }
    wave::ApplyFade(tail, f.wBitsPerSample);
    return tail;
}

TEST(LoopedWave, TinyFileByteForByte) {
    const PcmFormat f = testwave::PcmFormatOf(16, 1, 8);  // 2 bytes a frame, 16 bytes a second
    const Bytes sound = testwave::Pattern(40);
    const LoopRequest r{3, 10, 2, 1};  // loop of 7 frames; tail of 8 frames wraps once
    Bytes expected;
    testwave::PutId(expected, "RIFF");
    testwave::PutU32(expected, 36 + 50);  // N = 3 + 7 * 2 + 8 = 25 frames, D = 50
    testwave::PutId(expected, "WAVE");
    testwave::PutId(expected, "fmt ");
    testwave::PutU32(expected, 16);
    testwave::PutU16(expected, 1);   // PCM
    testwave::PutU16(expected, 1);   // mono
    testwave::PutU32(expected, 8);   // frames per second
    testwave::PutU32(expected, 16);  // bytes per second
    testwave::PutU16(expected, 2);   // block align
    testwave::PutU16(expected, 16);  // bits
    testwave::PutId(expected, "data");
    testwave::PutU32(expected, 50);
    expected.insert(expected.end(), sound.begin(), sound.begin() + 6);       // intro
    expected.insert(expected.end(), sound.begin() + 6, sound.begin() + 20);  // pass 1
    expected.insert(expected.end(), sound.begin() + 6, sound.begin() + 20);  // pass 2
    Bytes tail(sound.begin() + 6, sound.begin() + 20);                       // frames 3..9
    tail.insert(tail.end(), sound.begin() + 6, sound.begin() + 8);           // then frame 3
    wave::ApplyFade(tail, 16);
    expected.insert(expected.end(), tail.begin(), tail.end());
    const Bytes out = Render(f, sound, r);
    ExpectSameBytes(out, expected);

    const wave::ParseResult back = wave::ParseWave(Bytes(out));
    EXPECT_EQ(back.error, wave::WaveError::TooShort);  // 50 bytes of 16 a second: read back whole
}

TEST(LoopedWave, LayoutsAndContents) {
    const PcmFormat f = testwave::PcmFormatOf(8, 1, 8);
    const Bytes sound = testwave::Pattern(40);
    struct Row {
        const char* name;
        LoopRequest request;
        std::int64_t dataBytes;
    };
    for (const Row& row :
         {Row{"plain", {5, 20, 2, 1}, 5 + 30 + 8}, Row{"loop from frame 0", {0, 20, 1, 1}, 20 + 8},
          Row{"no loop pass", {5, 20, 0, 1}, 5 + 8}, Row{"no fade", {5, 20, 3, 0}, 5 + 45},
          Row{"fade longer than the loop", {2, 7, 1, 2}, 2 + 5 + 16},
          Row{"loop to the last byte", {0, 40, 1, 0}, 40},
          // A loop that ends with the sound, as our own commands take it: the intro, the passes
          // and the fade in which the loop plays on from its start.
          Row{"intro, then a loop to the sound's end, faded", {12, 40, 2, 2}, 12 + 56 + 16},
          Row{"a loop to the sound's end under a fade longer than it",
              {30, 40, 1, 3},
              30 + 10 + 24}}) {
        SCOPED_TRACE(row.name);
        const LoopRequest& r = row.request;
        const Bytes out = Render(f, sound, r);
        ASSERT_EQ(out.size(), 44 + static_cast<std::size_t>(row.dataBytes));
        Bytes expected = wave::WaveHeader(f, row.dataBytes);
        expected.insert(expected.end(), sound.begin(), sound.begin() + r.loopStart);
        for (int pass = 0; pass < r.repeatCount; ++pass) {
            expected.insert(expected.end(), sound.begin() + r.loopStart, sound.begin() + r.loopEnd);
        }
        const Bytes tail = ExpectedTail(f, sound, r);
        expected.insert(expected.end(), tail.begin(), tail.end());
        ExpectSameBytes(out, expected);
    }
}

TEST(LoopedWave, CdQualityExample) {
    const PcmFormat f = testwave::PcmFormatOf(16, 2, 44100);
    const Bytes sound = testwave::Pattern(1300000);
    const LoopRequest r{100000, 300000, 2, 5};
    wave::LoopedLayout layout;
    ASSERT_EQ(wave::PlanLoopedWave(f, sound, r, layout), "");
    EXPECT_EQ(layout.introBytes, 400000);
    EXPECT_EQ(layout.loopBytes, 800000);
    EXPECT_EQ(layout.tailFrames, 220500);
    EXPECT_EQ(layout.tailBytes, 882000);
    EXPECT_EQ(layout.dataBytes, 2882000);

    const Bytes out = Render(f, sound, r);
    ASSERT_EQ(out.size(), 2882044u);
    EXPECT_EQ(out[4] | out[5] << 8 | out[6] << 16 | out[7] << 24, 2882036);
    EXPECT_TRUE(std::equal(out.begin() + 44, out.begin() + 400044, sound.begin()));
    EXPECT_TRUE(std::equal(out.begin() + 400044, out.begin() + 1200044, sound.begin() + 400000));
    EXPECT_TRUE(std::equal(out.begin() + 1200044, out.begin() + 2000044, sound.begin() + 400000));
    // Tail: frames 100000..299999, then 100000..120499 from tail byte 800000 on.
    Bytes tail(sound.begin() + 400000, sound.begin() + 1200000);
    tail.insert(tail.end(), sound.begin() + 400000, sound.begin() + 482000);
    wave::ApplyFade(tail, 16);
    ExpectSameBytes(Bytes(out.begin() + 2000044, out.end()), tail);
}

TEST(LoopedWave, RefusesBeforeWritingAnything) {
    const PcmFormat f = testwave::PcmFormatOf(8, 1, 8);
    PcmFormat badAlign = f;
    badAlign.nBlockAlign = 2;
    PcmFormat badAvg = f;
    badAvg.nAvgBytesPerSec = 9;
    const Bytes sound(10);
    // D + 36 at the limit: 10 loop bytes plus one second at a rate that fills up the rest.
    PcmFormat fits = testwave::PcmFormatOf(8, 1, 2147483611 - 10);
    PcmFormat over = testwave::PcmFormatOf(8, 1, 2147483612 - 10);
    // D = 2147483541: room for the pad byte and the chunk, but not for what our reader reads there.
    PcmFormat oddNearLimit = testwave::PcmFormatOf(8, 1, 2147483541 - 10);
    struct Row {
        const char* name;
        PcmFormat format;
        LoopRequest request;
        const char* reason;
    };
    for (const Row& row :
         {Row{"block align", badAlign, {0, 5, 1, 0}, "フォーマットが不整合です"},
          Row{"bytes per second", badAvg, {0, 5, 1, 0}, "フォーマットが不整合です"},
          Row{"negative start", f, {-1, 5, 1, 0}, "ループ範囲が不正です"},
          Row{"empty loop", f, {5, 5, 1, 0}, "ループ範囲が不正です"},
          Row{"end beyond the sound", f, {0, 11, 1, 0}, "ループ範囲が不正です"},
          Row{"negative repeat", f, {0, 5, -1, 0}, "繰り返し回数またはフェードの長さが不正です"},
          Row{"negative fade", f, {0, 5, 1, -1}, "繰り返し回数またはフェードの長さが不正です"},
          Row{"D + 36 one over", over, {0, 10, 1, 1}, "ファイルが大きすぎます"},
          Row{"repeat at INT32_MAX", f, {0, 10, 2147483647, 0}, "ファイルが大きすぎます"},
          Row{"fade at INT32_MAX", f, {0, 10, 1, 2147483647}, "ファイルが大きすぎます"},
          Row{"sampler loop without a pass",
              f,
              {0, 5, 0, 1, true},
              "ループ情報にはリピート回数が1以上必要です"},
          Row{"sampler chunk over the limit", fits, {0, 10, 1, 1, true}, "ファイルが大きすぎます"},
          Row{"odd D whose chunk our reader could not read back",
              oddNearLimit,
              {0, 10, 1, 1, true},
              "ファイルが大きすぎます"}}) {
        wave::LoopedLayout layout;
        EXPECT_EQ(wave::PlanLoopedWave(row.format, sound, row.request, layout),
                  std::string("保存に失敗しました：") + row.reason)
            << row.name;
        MemorySink sink;
        EXPECT_NE(wave::RenderLoopedWave(row.format, sound, row.request, sink), "") << row.name;
        EXPECT_EQ(sink.writes, 0) << row.name;
    }
    wave::LoopedLayout layout;
    EXPECT_EQ(wave::PlanLoopedWave(fits, sound, {0, 10, 1, 1}, layout), "");
    EXPECT_EQ(layout.dataBytes, 2147483611);
}

TEST(LoopedWave, ReportsAFailedWrite) {
    const PcmFormat f = testwave::PcmFormatOf(8, 1, 8);
    const Bytes sound = testwave::Pattern(40);
    for (int failAt = 0; failAt < 5; ++failAt) {  // header, intro, two passes, tail
        MemorySink sink;
        sink.failAt = failAt;
        const std::string message = wave::RenderLoopedWave(f, sound, {5, 20, 2, 1}, sink);
        EXPECT_EQ(message.rfind(wave::kSaveFailed, 0), 0u) << failAt << ": " << message;
    }
}

// ---- Sampler loop ------------------------------------------------------------------------

TEST(SamplerLoop, ChunkBytesByHand) {
    Bytes expected;
    testwave::PutId(expected, "smpl");
    for (const std::uint32_t field : {60u,        // payload bytes
                                      0u, 0u,     // manufacturer, product
                                      22676u,     // 10^9 / 44100 = 22675.7 ns, rounded
                                      60u, 0u,    // unity note, pitch fraction
                                      0u, 0u,     // SMPTE format and offset
                                      1u, 0u,     // one loop, no sampler data
                                      0u, 0u,     // cue point id, forward
                                      100000u,    // first frame
                                      299999u,    // last frame, inclusive
                                      0u, 0u}) {  // fraction, endless
        testwave::PutU32(expected, field);
    }
    ExpectSameBytes(wave::SamplerChunk(44100, 100000, 299999), expected);
    // The period rounds to the nearest nanosecond, up and down.
    for (const auto& [rate, periodNs] :
         {std::pair{48000, 20833u}, std::pair{11025, 90703u}, std::pair{1, 1000000000u}}) {
        const Bytes chunk = wave::SamplerChunk(rate, 0, 1);
        EXPECT_EQ(chunk[16] | chunk[17] << 8 | chunk[18] << 16 | chunk[19] << 24,
                  static_cast<int>(periodNs))
            << rate;
    }
}

// The file with the chunk is the file without it plus the trailer, with the RIFF size counting
// the trailer; our own reader still reads the same samples, odd data size and pad byte included.
TEST(SamplerLoop, TrailerAfterTheSamplesAndOurReaderKeepsThem) {
    struct Row {
        const char* name;
        PcmFormat format;
        LoopRequest request;
        std::size_t dataBytes;
        bool pad;
    };
    for (const Row& row : {Row{"8-bit mono, odd data size",
                               testwave::PcmFormatOf(8, 1, 8),
                               {5, 20, 2, 1, true},
                               5 + 30 + 8,
                               true},
                           Row{"16-bit mono, even data size",
                               testwave::PcmFormatOf(16, 1, 4),
                               {3, 10, 2, 1, true},
                               2 * (3 + 14 + 4),
                               false}}) {
        SCOPED_TRACE(row.name);
        const Bytes sound = testwave::Pattern(40);
        LoopRequest plainRequest = row.request;
        plainRequest.samplerLoop = false;
        const Bytes plain = Render(row.format, sound, plainRequest);
        ASSERT_EQ(plain.size(), 44 + row.dataBytes);

        Bytes expected = plain;
        const std::uint32_t riffBytes =
            static_cast<std::uint32_t>(36 + row.dataBytes + (row.pad ? 1 : 0) + 68);
        for (int k = 0; k < 4; ++k)
            expected[4 + static_cast<std::size_t>(k)] =
                static_cast<std::uint8_t>(riffBytes >> (8 * k));
        if (row.pad) expected.push_back(0);
        const Bytes chunk = wave::SamplerChunk(row.format.nSamplesPerSec, row.request.loopStart,
                                               row.request.loopEnd - 1);
        expected.insert(expected.end(), chunk.begin(), chunk.end());
        const Bytes out = Render(row.format, sound, row.request);
        ExpectSameBytes(out, expected);

        const wave::ParseResult back = wave::ParseWave(out);
        ASSERT_EQ(back.error, wave::WaveError::None);
        EXPECT_EQ(back.wave.format, row.format);
        EXPECT_EQ(back.wave.data, Bytes(plain.begin() + 44, plain.end()));
    }
}

}  // namespace
