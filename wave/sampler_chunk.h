// SPDX-License-Identifier: GPL-3.0-or-later
// The "smpl" chunk a looped file may carry after its samples, so that a sampler or a game
// engine loops the first loop pass natively. Builds on the looped file's request and layout;
// standard library only.
#pragma once

#include <cstdint>
#include <vector>

#include "wave/looped_wave.h"
#include "wave/pcm_format.h"

namespace wave {

// 8 bytes of chunk header, 36 of fixed fields, 24 for the one loop.
inline constexpr std::int64_t kSamplerChunkBytes = 68;

// How many bytes follow the samples: none without a sampler loop; otherwise the "smpl" chunk,
// after a pad byte when the sample bytes are odd in number.
std::int64_t SamplerTrailerBytes(const LoopRequest& request, std::int64_t dataBytes);

// Where our own reader, which takes chunks packed end to end, finds the end of the chunk it reads
// from the pad byte after an odd number of sample bytes: its size is the 'l' of "smpl" and the
// low bytes of the chunk's size. 0 when no such chunk follows. Past 2^31 - 1 the file would not
// load again, so the plan refuses it.
std::int64_t SamplerReadBackEnd(const LoopRequest& request, std::int64_t dataBytes);

// The "smpl" chunk, header included: MIDI unity note 60, one endless forward loop over frames
// firstFrame to lastFrame, both inclusive.
std::vector<std::uint8_t> SamplerChunk(std::int32_t samplesPerSec, std::int32_t firstFrame,
                                       std::int32_t lastFrame);

// The bytes that follow the samples of a file laid out by PlanLoopedWave: empty, or the pad
// byte and the chunk marking the first loop pass (frames loopStart to loopEnd - 1).
std::vector<std::uint8_t> SamplerTrailer(const PcmFormat& format, const LoopRequest& request,
                                         const LoopedLayout& layout);

}  // namespace wave
