// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the seed corpus: valid files of each width and channel count, files broken at each
// field the reader tests, writer inputs at the edges of the loop rules and the size limits, and
// small looped sounds for the finder.
// Usage: wave_fuzz_corpus CORPUS_DIR (writes CORPUS_DIR/reader, CORPUS_DIR/writer and
// CORPUS_DIR/finder).
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/fuzz_checks.h"
#include "tests/support/looped_music.h"
#include "tests/support/wave_bytes.h"

namespace {

using testwave::Bytes;
using testwave::Chunk;
using testwave::ChunkClaiming;
using testwave::Format;
using testwave::Join;
using testwave::Pcm;

constexpr std::uint32_t kRate = 8;  // frames per second: 5 seconds stay a few hundred bytes

// A valid sound of `seconds` at kRate in the given width and channel count.
Bytes Sound(const Format& f, std::uint32_t seconds) {
    return testwave::Pattern(f.avgBytes * seconds);
}

void SetU32(Bytes& bytes, std::size_t offset, std::uint32_t value) {
    for (int k = 0; k < 4; ++k)
        bytes[offset + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(value >> (8 * k));
}

void Save(const std::filesystem::path& folder, const std::string& name, const Bytes& bytes) {
    testwave::WriteFile((folder / name).string(), bytes);
}

void ReaderCorpus(const std::filesystem::path& folder) {
    for (const std::uint32_t bits : {8u, 16u}) {
        for (const std::uint32_t channels : {1u, 2u}) {
            const Format f = Pcm(bits, channels, kRate);
            Save(folder,
                 "valid_" + std::to_string(bits) + "bit_" + std::to_string(channels) + "ch.wav",
                 testwave::Wave(f, Sound(f, 6)));
        }
    }
    const Format f = Pcm(16, 2, kRate);
    const Bytes fmt = Chunk("fmt ", testwave::FmtPayload(f));
    const Bytes data = Chunk("data", Sound(f, 5));
    const Bytes plain = testwave::Wave(f, Sound(f, 5));  // exactly 5 seconds: accepted
    const auto withFormat = [&](auto change) {
        Format g = f;
        change(g);
        return testwave::Wave(g, Sound(f, 5));
    };

    Save(folder, "valid_exactly_5s.wav", plain);
    Bytes fmt18 = testwave::FmtPayload(f);
    fmt18.push_back(0);
    fmt18.push_back(0);
    Save(folder, "valid_fmt_18_bytes.wav", testwave::Riff(Join({Chunk("fmt ", fmt18), data})));
    Save(folder, "valid_data_before_fmt.wav", testwave::Riff(Join({data, fmt})));
    Save(folder, "valid_two_data.wav",
         testwave::Riff(Join({fmt, Chunk("data", Bytes{1, 2, 3}), data})));
    Save(folder, "valid_list_chunk.wav",
         testwave::Riff(Join({fmt, Chunk("LIST", Bytes(9, 'x')), data})));
    Bytes plus8 = plain;
    SetU32(plus8, 4, static_cast<std::uint32_t>(plain.size() + 8));
    Save(folder, "valid_riff_size_plus_8.wav", plus8);
    Save(folder, "valid_block_align_0.wav", withFormat([](Format& g) { g.blockAlign = 0; }));
    Save(folder, "valid_avg_bytes_mismatch.wav",
         withFormat([](Format& g) { g.avgBytes = g.avgBytes / 2; }));
    Save(folder, "valid_block_align_3.wav", withFormat([](Format& g) { g.blockAlign = 3; }));

    Save(folder, "broken_empty.wav", Bytes{});
    Save(folder, "broken_short_header.wav", Bytes(plain.begin(), plain.begin() + 11));
    Bytes notRiff = plain;
    notRiff[0] = 'r';
    Save(folder, "broken_not_riff.wav", notRiff);
    Bytes notWave = plain;
    notWave[11] = 'v';
    Save(folder, "broken_not_wave.wav", notWave);
    Bytes plus9 = plain;
    SetU32(plus9, 4, static_cast<std::uint32_t>(plain.size() + 9));
    Save(folder, "broken_riff_size_plus_9.wav", plus9);
    Bytes negative = plain;
    SetU32(negative, 4, 0x80000000u);
    Save(folder, "broken_riff_size_negative.wav", negative);
    Bytes shortRiff = plain;
    SetU32(shortRiff, 4,
           4 + static_cast<std::uint32_t>(fmt.size()));  // data lies behind the extent
    Save(folder, "broken_riff_size_before_data.wav", shortRiff);
    Save(folder, "broken_chunk_size_0.wav",
         testwave::Riff(Join({fmt, data, Chunk("LIST", Bytes{})})));
    Save(folder, "broken_chunk_size_negative.wav",
         testwave::Riff(Join({fmt, ChunkClaiming("LIST", 0xFFFFFFF0u, Bytes(8, 0)), data})));
    const Bytes fullFmt = testwave::FmtPayload(f);
    Save(folder, "broken_fmt_14_bytes.wav",
         testwave::Riff(Join({Chunk("fmt ", Bytes(fullFmt.begin(), fullFmt.begin() + 14)), data})));
    Save(folder, "broken_fmt_cut_short.wav",
         testwave::Riff(ChunkClaiming("fmt ", 16, Bytes{1, 0, 2, 0})));
    Save(folder, "broken_tag_3.wav", withFormat([](Format& g) { g.tag = 3; }));
    Save(folder, "broken_tag_fffe.wav", withFormat([](Format& g) { g.tag = 0xFFFE; }));
    Save(folder, "broken_channels_0.wav", withFormat([](Format& g) { g.channels = 0; }));
    Save(folder, "broken_channels_3.wav", withFormat([](Format& g) { g.channels = 3; }));
    Save(folder, "broken_rate_0.wav", withFormat([](Format& g) { g.rate = 0; }));
    Save(folder, "broken_avg_bytes_0.wav", withFormat([](Format& g) { g.avgBytes = 0; }));
    Save(folder, "broken_bits_24.wav", withFormat([](Format& g) { g.bits = 24; }));
    Save(folder, "broken_avg_bytes_overflow.wav",
         withFormat([](Format& g) { g.avgBytes = 600000000; }));
    Save(folder, "broken_rate_overflow.wav", withFormat([](Format& g) { g.rate = 600000000; }));
    Save(folder, "broken_too_short.wav", testwave::Wave(f, testwave::Pattern(f.avgBytes * 5 - 1)));
    Save(folder, "broken_no_data.wav", testwave::Riff(fmt));
    Save(folder, "broken_no_fmt.wav", testwave::Riff(data));
    Format bad = f;
    bad.bits = 12;
    Save(folder, "broken_second_fmt_invalid.wav",
         testwave::Riff(Join({fmt, data, Chunk("fmt ", testwave::FmtPayload(bad))})));
    Save(folder, "broken_data_2gib_over_10_bytes.wav",
         testwave::Riff(Join({fmt, ChunkClaiming("data", 0x7FFFFFF0u, Bytes(10, 7))})));
    Save(folder, "broken_data_cut_short.wav",
         testwave::Riff(Join({fmt, ChunkClaiming("data", f.avgBytes * 6, Sound(f, 5))})));
    Save(folder, "broken_chunk_end_past_2gib.wav",
         testwave::Riff(Join({fmt, ChunkClaiming("LIST", 0x7FFFFFE0u, Bytes{}), data})));
    // An odd-sized chunk followed by a pad byte: the next header is read one byte early.
    Bytes padded = Join({fmt, Chunk("junk", Bytes{1, 2, 3})});
    padded.push_back(0);
    Save(folder, "broken_pad_byte.wav", testwave::Riff(Join({padded, data})));
    // One byte of extent left after the last chunk: a lone pad byte.
    Bytes lone = testwave::Riff(Join({fmt, Chunk("data", testwave::Pattern(f.avgBytes * 5 + 1))}));
    lone.push_back(0);
    SetU32(lone, 4, static_cast<std::uint32_t>(lone.size() - 8));
    Save(folder, "broken_lone_pad_byte.wav", lone);
}

void WriterCorpus(const std::filesystem::path& folder) {
    using wavefuzz::WriterInput;
    const auto save = [&](const std::string& name, const WriterInput& input) {
        Save(folder, name, wavefuzz::EncodeWriterInput(input));
    };
    for (const std::uint8_t shape : {0, 1, 2, 3}) {
        const std::uint32_t bits = (shape & WriterInput::k16Bit) != 0 ? 16 : 8;
        const std::uint32_t channels = (shape & WriterInput::kStereo) != 0 ? 2 : 1;
        const std::string stem = std::to_string(bits) + "bit_" + std::to_string(channels) + "ch_";
        const std::uint32_t frameBytes = bits / 8 * channels;
        const std::int32_t frames = 60;
        WriterInput in;
        in.flags = shape;
        in.rate = 3;  // 4 frames per second
        in.sound = testwave::Pattern(static_cast<std::size_t>(frames) * frameBytes);
        // Loop points are folded to -1 .. frames: the raw value k becomes k - 1.
        const auto loop = [&](std::int32_t start, std::int32_t end) {
            in.loopStart = start + 1;
            in.loopEnd = end + 1;
        };
        loop(10, 30);
        in.repeatCount = 2;
        in.fadeSeconds = 2;
        save(stem + "plain", in);
        loop(10, frames);
        save(stem + "loop_to_the_end", in);
        loop(10, 13);
        in.fadeSeconds = 3;
        save(stem + "fade_longer_than_loop", in);
        // The other edges once, in the widest shape.
        if (shape != (WriterInput::k16Bit | WriterInput::kStereo)) continue;
        in.fadeSeconds = 2;
        loop(0, 30);
        save(stem + "no_intro", in);
        loop(10, 30);
        in.repeatCount = 0;
        save(stem + "repeat_0", in);
        in.repeatCount = 1;
        in.fadeSeconds = 0;
        save(stem + "fade_0", in);
        loop(30, 30);
        save(stem + "empty_loop", in);
        loop(-1, 30);
        save(stem + "start_before_sound", in);
        loop(10, frames + 1);
        save(stem + "end_after_sound", in);
    }
    WriterInput in;
    in.flags = WriterInput::k16Bit | WriterInput::kStereo;
    in.rate = 7;
    in.sound = testwave::Pattern(400);
    in.loopStart = 11;
    in.loopEnd = 61;
    in.repeatCount = 3;
    in.fadeSeconds = 3;
    for (const std::uint8_t write : {0, 1, 2, 3, 4}) {
        WriterInput failing = in;
        failing.flags |= WriterInput::kFailingSink;
        failing.failAt = write;
        save("failing_write_" + std::to_string(write), failing);
    }
    const auto counts = [&](const std::string& name, std::int32_t repeat, std::int32_t fade) {
        WriterInput big = in;
        big.flags |= WriterInput::kRawCounts;
        big.repeatCount = repeat;
        big.fadeSeconds = fade;
        save(name, big);
    };
    counts("repeat_int32_max", 2147483647, 1);
    counts("fade_int32_max", 1, 2147483647);
    counts("repeat_negative", -1, 1);
    counts("fade_negative", 1, -1);
    // 50 frames of 4 bytes: D + 36 just within 2^31 - 1, and one pass more just beyond it.
    counts("data_just_under_limit", 10737417, 0);
    counts("data_just_over_limit", 10737418, 0);
    const auto format = [&](const std::string& name, const Format& f) {
        WriterInput raw = in;
        raw.flags |= WriterInput::kRawFormat;
        raw.format = testwave::FmtPayload(f);
        save(name, raw);
    };
    format("format_consistent", Pcm(16, 2, 8));
    Format g = Pcm(16, 2, 8);
    g.blockAlign = 0;
    format("format_block_align_0", g);
    g = Pcm(16, 2, 8);
    g.avgBytes = 5;
    format("format_avg_bytes_mismatch", g);
    g = Pcm(16, 2, 8);
    g.blockAlign = 6;
    g.avgBytes = 48;
    format("format_block_align_too_big", g);
    format("format_24bit", Format{1, 1, 8, 24, 3, 24});
    format("format_negative_rate", Format{1, 1, 0xFFFFFFF8u, 0xFFFFFFF8u, 1, 8});
    WriterInput empty;
    empty.flags = WriterInput::k16Bit;
    save("empty_sound", empty);
}

// Noise that repeats every `loopFrames` after an intro, at a rate where five seconds and more
// fit the fuzzers' input size; the last bytes of each file choose the loop to refine.
void FinderCorpus(const std::filesystem::path& folder) {
    struct Looped {
        const char* name;
        Format format;
        std::uint32_t introFrames, loopFrames, frames;
    };
    const Looped items[] = {
        {"looped_8bit_1ch", Pcm(8, 1, 500), 300, 1250, 4000},
        {"looped_16bit_1ch", Pcm(16, 1, 400), 0, 900, 2000},
        {"looped_8bit_2ch", Pcm(8, 2, 400), 150, 850, 2000},
    };
    for (const Looped& item : items) {
        const Bytes noise =
            testwave::Noise(item.format.blockAlign * (item.introFrames + item.loopFrames));
        Bytes sound;
        for (std::uint32_t f = 0; f < item.frames; ++f) {
            const std::uint32_t source =
                f < item.introFrames ? f
                                     : item.introFrames + (f - item.introFrames) % item.loopFrames;
            const auto at =
                noise.begin() + static_cast<std::ptrdiff_t>(source * item.format.blockAlign);
            sound.insert(sound.end(), at, at + item.format.blockAlign);
        }
        Save(folder, std::string(item.name) + ".wav", testwave::Wave(item.format, sound));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: wave_fuzz_corpus CORPUS_DIR\n");
        return 2;
    }
    const std::filesystem::path corpus = argv[1];
    std::filesystem::create_directories(corpus / "reader");
    std::filesystem::create_directories(corpus / "writer");
    std::filesystem::create_directories(corpus / "finder");
    ReaderCorpus(corpus / "reader");
    WriterCorpus(corpus / "writer");
    FinderCorpus(corpus / "finder");
    return 0;
}
