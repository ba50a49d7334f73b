// SPDX-License-Identifier: GPL-3.0-or-later
// Format blocks the device tests open with.
#pragma once

#include <cstdint>

#include "platform/wave_out.h"

namespace platform {

inline WAVEFORMAT Pcm16Stereo(std::uint32_t rate) {
    WAVEFORMAT f;
    f.wFormatTag = 1;
    f.nChannels = 2;
    f.nSamplesPerSec = rate;
    f.nAvgBytesPerSec = rate * 4;
    f.nBlockAlign = 4;
    f.wBitsPerSample = 16;
    return f;
}

}  // namespace platform
