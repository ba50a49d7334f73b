// SPDX-License-Identifier: GPL-3.0-or-later
// The checks the fuzz targets run on one input, shared by the libFuzzer builds and the plain
// replay of the seed corpus. Each check aborts with a note on stderr when the core breaks a
// promise; a sanitizer catches reads outside the buffers. Depends on the core (wave_core.h) only.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace wavefuzz {

// Raw bytes to the reader, through a span and through a source that refuses reads outside the
// file; an accepted sound then goes through the writer and the preview fill.
void CheckReader(std::span<const std::uint8_t> bytes);

// A sound, loop points, repeat and fade drawn from the input (see WriterInput) through the
// writer, into a memory sink, and through the preview fill.
void CheckWriter(std::span<const std::uint8_t> bytes);

// What CheckWriter reads from its input, in this order. Missing bytes read as zero.
struct WriterInput {
    enum Flag : std::uint8_t {
        k16Bit = 1,         // else 8-bit
        kStereo = 2,        // else mono
        kRawFormat = 4,     // the 16-byte block follows as given, consistent or not
        kRawLoop = 8,       // loop points as given; else folded into -1 .. frames
        kRawCounts = 16,    // repeat and fade as given; else repeat 0..4, fade 0..3 s
        kFailingSink = 32,  // the sink refuses its write number failAt % 8
    };
    std::uint8_t flags = 0;
    std::uint8_t rate = 0;             // frames per second - 1, folded to 1..24, unless kRawFormat
    std::vector<std::uint8_t> format;  // 16 bytes, only with kRawFormat
    std::int32_t loopStart = 0;
    std::int32_t loopEnd = 0;
    std::int32_t repeatCount = 0;
    std::int32_t fadeSeconds = 0;
    std::uint8_t failAt = 0;
    std::vector<std::uint8_t> sound;  // the rest of the input
};

std::vector<std::uint8_t> EncodeWriterInput(const WriterInput& input);

}  // namespace wavefuzz
