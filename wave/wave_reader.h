// SPDX-License-Identifier: GPL-3.0-or-later
// The wave reader: walks the chunks of a RIFF/WAVE file over a byte source, tests its format
// block and takes the sample payload. Bytes in, values out; refusals are codes with the offset
// where the walk stopped (their texts are in user_texts.h). Standard library only: opening a
// file is the files layer's part.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "wave/pcm_format.h"
#include "wave/riff_reader.h"
#include "wave/user_texts.h"

namespace wave {

struct ParsedWave {
    PcmFormat format;
    std::vector<std::uint8_t> data;  // the last "data" payload, byte for byte
    std::int64_t dataBytes = 0;      // its size; also set when the payload was not read
};

// Whether a walk reads the payload or only its size. Both give the same answer and offset for
// every file; only a failed read of the payload, or no memory for it, needs the payload read.
enum class Payload { Read, SizeOnly };

struct ParseResult {
    WaveError error = WaveError::None;
    std::int64_t offset = 0;  // where the walk stood when it refused
    ParsedWave wave;
};

// Walks the chunks and tests the format; on success `wave` holds the format block and the payload,
// read with one read straight into `wave.data`.
ParseResult ParseWave(ByteSource& source, Payload payload = Payload::Read);
ParseResult ParseWave(std::span<const std::uint8_t> bytes, Payload payload = Payload::Read);

}  // namespace wave
