// SPDX-License-Identifier: GPL-3.0-or-later
// The looped file: the intro once, the loop repeated, then the loop going on under the fade. Its
// plan (every size checked against the 32-bit fields of the header), its 44-byte header, and the
// whole file rendered into a sink. Bytes in, bytes out; where they go is the caller's part.
// Standard library only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "wave/pcm_format.h"

namespace wave {

inline constexpr std::size_t kHeaderBytes = 44;

// The repeat count and fade-out seconds a new sound starts with, in the window and on the
// command line.
inline constexpr std::int32_t kDefaultRepeatCount = 2;
inline constexpr std::int32_t kDefaultFadeSeconds = 5;

struct LoopRequest {
    std::int32_t loopStart = 0;  // first frame of the loop
    std::int32_t loopEnd = 0;    // first frame after the loop
    std::int32_t repeatCount = 0;
    std::int32_t fadeSeconds = 0;
    bool samplerLoop = false;  // end the file with a "smpl" chunk marking the first loop pass
};

// A sampler loop marks the first loop pass: without a pass there is nothing to mark.
inline bool SamplerLoopHasPass(bool samplerLoop, std::int32_t repeatCount) {
    return !samplerLoop || repeatCount >= 1;
}

// Sizes of the output, all checked against the signed 32-bit limits of the header.
struct LoopedLayout {
    std::int64_t introBytes = 0;
    std::int64_t loopBytes = 0;     // one pass
    std::int64_t tailFrames = 0;    // M
    std::int64_t tailBytes = 0;     // T
    std::int64_t dataBytes = 0;     // D
    std::int64_t trailerBytes = 0;  // after the samples, counted by the RIFF size
};

// "" and the layout, or a message beginning with kSaveFailed (inconsistent format, a loop outside
// the sound, negative counts, sizes over the limits). Nothing is touched.
std::string PlanLoopedWave(const PcmFormat& format, std::span<const std::uint8_t> sound,
                           const LoopRequest& request, LoopedLayout& layout);
// The same from the sound's size alone, before its bytes are read.
std::string PlanLoopedWave(const PcmFormat& format, std::int64_t soundBytes,
                           const LoopRequest& request, LoopedLayout& layout);

// The 44-byte header for `dataBytes` bytes of samples and `trailerBytes` after them.
std::vector<std::uint8_t> WaveHeader(const PcmFormat& format, std::int64_t dataBytes,
                                     std::int64_t trailerBytes = 0);

// Where the rendered bytes go. Write returns false on failure, with a reason for the user.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual bool Write(std::span<const std::uint8_t> bytes) = 0;
    // After a failed Write: the message for the user, beginning with kSaveFailed.
    virtual std::string FailureReason() const;
    // Called on the tail's buffer, allocated but not yet touched, before it is filled. A file
    // sink may ask the system for huge pages; only a hint.
    virtual void AdviseBuffer(std::uint8_t* bytes, std::size_t size);
};

// Header, intro, loop passes from one buffer, faded tail, trailer. "" or a message beginning
// with kSaveFailed.
std::string RenderLoopedWave(const PcmFormat& format, std::span<const std::uint8_t> sound,
                             const LoopRequest& request, ByteSink& sink);

}  // namespace wave
