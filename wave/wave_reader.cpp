// SPDX-License-Identifier: GPL-3.0-or-later
#include "wave/wave_reader.h"

#include <array>
#include <new>
#include <utility>

#include "wave/le_bytes.h"
#include "wave/rounding.h"
#include "wave/seam_preview.h"

namespace wave {

namespace {

constexpr std::int64_t kMaxFileBytes = kInt32Max - 7;  // 2^31 - 8: offsets stay inside 32 bits

ParseResult Fail(WaveError error, std::int64_t offset) {
    ParseResult result;
    result.error = error;
    result.offset = offset;
    return result;
}

PcmFormat FormatFrom(const std::array<std::uint8_t, kFormatBlockBytes>& b) {
    PcmFormat f;
    f.wFormatTag = ReadS16(&b[0]);
    f.nChannels = ReadS16(&b[2]);
    f.nSamplesPerSec = ReadS32(&b[4]);
    f.nAvgBytesPerSec = ReadS32(&b[8]);
    f.nBlockAlign = ReadS16(&b[12]);
    f.wBitsPerSample = ReadS16(&b[14]);
    return f;
}

// The tests every "fmt " chunk must pass, in the order the loader has always made them.
WaveError TestFormat(const PcmFormat& f) {
    if (f.wFormatTag != 1) return WaveError::NotPcm;
    if (f.nChannels != 1 && f.nChannels != 2) return WaveError::BadFormat;
    if (f.nSamplesPerSec < 1) return WaveError::BadFormat;
    if (f.nAvgBytesPerSec < 1) return WaveError::BadFormat;
    if (f.wBitsPerSample != 8 && f.wBitsPerSample != 16) return WaveError::BadFormat;
    // The preview buffer (4 seconds of bytes) and the loop distance (4 seconds of frames) are
    // formed in 32 bits; a rate that overflows them cannot be handled.
    if (PreviewBytes(f) > kInt32Max) return WaveError::BadFormat;
    if (std::int64_t{f.nSamplesPerSec} * 4 > kInt32Max) return WaveError::BadFormat;
    return WaveError::None;
}

}  // namespace

// Offsets reported: 0 for the file header, the chunk's own start for a refused chunk, and the
// place the walk ended for the final tests.
ParseResult ParseWave(ByteSource& source, Payload mode) {
    ByteReader reader(source);
    const std::int64_t fileBytes = reader.Size();
    if (fileBytes >= kMaxFileBytes) return Fail(WaveError::FileTooLarge, 0);

    const auto header = reader.Bytes<12>(0);
    if (!header) {
        if (fileBytes >= 12) return Fail(WaveError::CannotOpen, 0);
        return Fail(WaveError::BadRiffHeader, 0);  // shorter than its own header
    }
    const std::int64_t riffBytes = ReadS32(&(*header)[4]);
    // Plus 8, not minus 8, and signed: the loader has always let a negative size through here,
    // which then leaves no chunk to read.
    if (riffBytes > fileBytes + 8 || !IdIs(&(*header)[0], "RIFF") || !IdIs(&(*header)[8], "WAVE")) {
        return Fail(WaveError::BadRiffHeader, 0);
    }
    const std::int64_t extentEnd = riffBytes + 8;

    PcmFormat format;
    bool haveFormat = false;
    std::vector<std::uint8_t> data;
    std::int64_t dataBytes = 0;
    bool haveData = false;

    std::int64_t offset = 12;
    // Bounded by the RIFF extent only: the file length decides nothing here except that a
    // header the file does not hold in full ends the walk, as if the extent ended there.
    while (offset < extentEnd) {
        const std::optional<ChunkHeader> chunk = ReadChunkHeader(reader, offset);
        if (!chunk) {
            if (reader.Remaining(offset) >= 8) return Fail(WaveError::CannotOpen, offset);
            break;
        }
        const std::int64_t chunkBytes = chunk->size;
        const std::int64_t payload = chunk->Payload();
        // Every chunk, known or not, must hold at least one byte; sizes of 2^31 and up read
        // negative.
        if (chunkBytes < 1) return Fail(WaveError::BadChunkSize, offset);
        const bool endsPast32Bits = payload + chunkBytes > kInt32Max;

        if (chunk->Is("fmt ")) {
            if (chunkBytes < 16) return Fail(WaveError::BadChunkSize, offset);
            if (reader.Remaining(payload) < 16) return Fail(WaveError::BadChunkSize, offset);
            const auto block = reader.Bytes<kFormatBlockBytes>(payload);
            if (!block) return Fail(WaveError::CannotOpen, payload);
            format = FormatFrom(*block);
            haveFormat = true;
            // Every "fmt " chunk is tested, including one that a later one would replace, and
            // before its end is: the format block is the chunk's first and most telling part.
            if (const WaveError e = TestFormat(format); e != WaveError::None)
                return Fail(e, offset);
            if (endsPast32Bits) return Fail(WaveError::BadChunkSize, offset);
        } else if (endsPast32Bits) {
            return Fail(WaveError::BadChunkSize, offset);
        } else if (chunk->Is("data")) {
            // The claimed size must be present before anything is allocated for it.
            if (reader.Remaining(payload) < chunkBytes)
                return Fail(WaveError::BadChunkSize, offset);
            std::vector<std::uint8_t>().swap(data);  // let go of an earlier payload first
            dataBytes = chunkBytes;
            haveData = true;
            // A walk for the headers only stops here: the size is known to be present.
            if (mode == Payload::Read) {
                try {
                    data.reserve(static_cast<std::size_t>(chunkBytes));
                    source.AdviseBuffer(data.data(), data.capacity());
                    data.resize(static_cast<std::size_t>(chunkBytes));
                } catch (const std::bad_alloc&) {
                    return Fail(WaveError::OutOfMemory, offset);
                }
                if (!reader.ReadInto(payload, data.data(), data.size())) {
                    return Fail(WaveError::CannotOpen, payload);
                }
            }
        }
        // Chunks are packed end to end: no pad byte is skipped after an odd size, as before.
        offset = payload + chunkBytes;
    }

    if (!haveFormat || !haveData) return Fail(WaveError::NotWave, offset);
    // Under 5 seconds: bytes / nAvgBytesPerSec < 5, compared exactly in integers.
    if (dataBytes < std::int64_t{format.nAvgBytesPerSec} * 5) {
        return Fail(WaveError::TooShort, offset);
    }

    ParseResult result;
    result.offset = offset;
    result.wave.format = format;
    result.wave.data = std::move(data);
    result.wave.dataBytes = dataBytes;
    return result;
}

ParseResult ParseWave(std::span<const std::uint8_t> bytes, Payload mode) {
    SpanSource source(bytes);
    return ParseWave(source, mode);
}

}  // namespace wave
