// SPDX-License-Identifier: GPL-3.0-or-later
// The 16-byte PCM format block of a wave file, as the loaded sound keeps it, and the one test of
// whether its sizes agree. Standard library only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace wave {

// The block exactly as the file gives it. Every field is read signed, because that is how the
// loader has always compared them.
struct PcmFormat {
    std::int16_t wFormatTag = 0;
    std::int16_t nChannels = 0;
    std::int32_t nSamplesPerSec = 0;
    std::int32_t nAvgBytesPerSec = 0;
    std::int16_t nBlockAlign = 0;
    std::int16_t wBitsPerSample = 0;

    friend bool operator==(const PcmFormat&, const PcmFormat&) = default;
};

inline constexpr std::size_t kFormatBlockBytes = 16;

// The 16 bytes as they stand in a file (little-endian).
std::vector<std::uint8_t> FormatBlockBytes(const PcmFormat& format);

// nBlockAlign = nChannels * wBitsPerSample / 8 and nAvgBytesPerSec = nSamplesPerSec * nBlockAlign.
bool IsConsistent(const PcmFormat& format);

}  // namespace wave
