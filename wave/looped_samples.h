// SPDX-License-Identifier: GPL-3.0-or-later
// The looped sound for samples wider than the wave file's, as an encoder takes them: the intro
// once, the loop repeated, then the loop going on under the same fade as the looped wave file,
// laid out by the same plan. Standard library only.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "wave/looped_wave.h"
#include "wave/pcm_format.h"

namespace wave {

// Where the rendered samples go, interleaved. Put returns false on failure.
class SampleSink {
public:
    virtual ~SampleSink() = default;
    virtual bool Put(std::span<const std::int32_t> samples) = 0;
    virtual std::string FailureReason() const;
};

// `samples` are the frames of a sound of `bits` bits (in the high bits), `format` its 16-bit
// block as the wave layer keeps it, which decides every size. "" or a message beginning with
// kSaveFailed.
std::string RenderLoopedSamples(const PcmFormat& format, std::span<const std::int32_t> samples,
                                int bits, const LoopRequest& request, SampleSink& sink);

}  // namespace wave
