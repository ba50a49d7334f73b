// SPDX-License-Identifier: GPL-3.0-or-later
#include "wave/sampler_chunk.h"

#include "wave/le_bytes.h"

namespace wave {

std::int64_t SamplerTrailerBytes(const LoopRequest& request, std::int64_t dataBytes) {
    return request.samplerLoop ? dataBytes % 2 + kSamplerChunkBytes : 0;
}

std::int64_t SamplerReadBackEnd(const LoopRequest& request, std::int64_t dataBytes) {
    if (!request.samplerLoop || dataBytes % 2 == 0) return 0;
    const std::int64_t falseSize = std::int64_t{'l'} | (kSamplerChunkBytes - 8) << 8;
    return static_cast<std::int64_t>(kHeaderBytes) + dataBytes + 8 + falseSize;
}

std::vector<std::uint8_t> SamplerChunk(std::int32_t samplesPerSec, std::int32_t firstFrame,
                                       std::int32_t lastFrame) {
    const std::int64_t rate = samplesPerSec < 1 ? 1 : samplesPerSec;
    const std::int64_t periodNs = (std::int64_t{1'000'000'000} + rate / 2) / rate;  // rounded
    std::vector<std::uint8_t> out;
    out.reserve(static_cast<std::size_t>(kSamplerChunkBytes));
    PutId(out, "smpl");
    PutU32(out, static_cast<std::uint32_t>(kSamplerChunkBytes - 8));  // payload
    PutU32(out, 0);                                                   // manufacturer: none
    PutU32(out, 0);                                                   // product
    PutU32(out, static_cast<std::uint32_t>(periodNs));    // sample period in nanoseconds
    PutU32(out, 60);                                      // MIDI unity note: middle C
    PutU32(out, 0);                                       // pitch fraction
    PutU32(out, 0);                                       // SMPTE format: none
    PutU32(out, 0);                                       // SMPTE offset
    PutU32(out, 1);                                       // loops
    PutU32(out, 0);                                       // sampler data bytes
    PutU32(out, 0);                                       // loop: cue point id
    PutU32(out, 0);                                       // type: forward
    PutU32(out, static_cast<std::uint32_t>(firstFrame));  // first frame of the loop
    PutU32(out, static_cast<std::uint32_t>(lastFrame));   // last frame, inclusive
    PutU32(out, 0);                                       // fraction
    PutU32(out, 0);                                       // play count: endless
    return out;
}

std::vector<std::uint8_t> SamplerTrailer(const PcmFormat& format, const LoopRequest& request,
                                         const LoopedLayout& layout) {
    std::vector<std::uint8_t> out;
    if (!request.samplerLoop) return out;
    // RIFF aligns chunks to two bytes, and other readers look for "smpl" there. Our own reader
    // takes chunks packed end to end and so reads a header from the pad byte on; its size then
    // has the 'l' of "smpl" as its low byte, never 0, and it is skipped like any unknown chunk.
    if (layout.dataBytes % 2 != 0) out.push_back(0);
    // The intro is loopStart frames long, so the first pass starts at that same frame.
    const std::vector<std::uint8_t> chunk =
        SamplerChunk(format.nSamplesPerSec, request.loopStart, request.loopEnd - 1);
    out.insert(out.end(), chunk.begin(), chunk.end());
    return out;
}

}  // namespace wave
