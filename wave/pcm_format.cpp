// SPDX-License-Identifier: GPL-3.0-or-later
#include "wave/pcm_format.h"

#include "wave/le_bytes.h"

namespace wave {

namespace {

std::uint32_t Bits16(std::int16_t value) { return static_cast<std::uint16_t>(value); }
std::uint32_t Bits32(std::int32_t value) { return static_cast<std::uint32_t>(value); }

}  // namespace

std::vector<std::uint8_t> FormatBlockBytes(const PcmFormat& format) {
    std::vector<std::uint8_t> out;
    out.reserve(kFormatBlockBytes);
    PutU16(out, Bits16(format.wFormatTag));       // 1: uncompressed PCM
    PutU16(out, Bits16(format.nChannels));        // channels
    PutU32(out, Bits32(format.nSamplesPerSec));   // frames per second
    PutU32(out, Bits32(format.nAvgBytesPerSec));  // bytes per second
    PutU16(out, Bits16(format.nBlockAlign));      // bytes per frame
    PutU16(out, Bits16(format.wBitsPerSample));   // bits per sample
    return out;
}

bool IsConsistent(const PcmFormat& format) {
    // Compared without division, so 12-bit stereo (3 bytes) is judged exactly.
    return std::int64_t{format.nBlockAlign} * 8 ==
               std::int64_t{format.nChannels} * format.wBitsPerSample &&
           std::int64_t{format.nAvgBytesPerSec} ==
               std::int64_t{format.nSamplesPerSec} * format.nBlockAlign;
}

}  // namespace wave
