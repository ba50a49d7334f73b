// SPDX-License-Identifier: GPL-3.0-or-later
#include "wave/looped_wave.h"

#include <algorithm>
#include <new>

#include "wave/fade.h"
#include "wave/le_bytes.h"
#include "wave/rounding.h"
#include "wave/sampler_chunk.h"
#include "wave/user_texts.h"

namespace wave {

namespace {

std::span<const std::uint8_t> Slice(std::span<const std::uint8_t> bytes, std::int64_t from,
                                    std::int64_t count) {
    return bytes.subspan(static_cast<std::size_t>(from), static_cast<std::size_t>(count));
}

// The loop repeated from its start for `layout.tailFrames` frames into `tail`, then faded.
void FillTail(const PcmFormat& format, std::span<const std::uint8_t> sound,
              const LoopRequest& request, const LoopedLayout& layout,
              std::span<std::uint8_t> tail) {
    const std::int64_t blockAlign = format.nBlockAlign;
    const std::int64_t loopFrames = std::int64_t{request.loopEnd} - request.loopStart;
    const std::int64_t from = std::int64_t{request.loopStart} * blockAlign;
    std::int64_t remaining = layout.tailFrames;
    std::int64_t position = 0;
    // Whole passes of the loop from its start, then the first frames of one more.
    while (remaining > 0 && loopFrames > 0) {
        const std::int64_t chunk =
            request.loopStart + remaining <= request.loopEnd ? remaining : loopFrames;
        const std::int64_t bytes = chunk * blockAlign;
        if (from < 0 || from + bytes > static_cast<std::int64_t>(sound.size()) ||
            position + bytes > static_cast<std::int64_t>(tail.size())) {
            break;  // a layout not made by PlanLoopedWave for these inputs: never leave the buffers
        }
        const std::span<const std::uint8_t> source = Slice(sound, from, bytes);
        std::copy(source.begin(), source.end(),
                  tail.begin() + static_cast<std::ptrdiff_t>(position));
        position += bytes;
        remaining -= chunk;
    }
    ApplyFade(tail, format.wBitsPerSample);
}

}  // namespace

std::string ByteSink::FailureReason() const { return SaveFailed(SaveError::WriteFailed); }

void ByteSink::AdviseBuffer(std::uint8_t* bytes, std::size_t size) {
    (void)bytes;
    (void)size;
}

std::string PlanLoopedWave(const PcmFormat& format, std::span<const std::uint8_t> sound,
                           const LoopRequest& request, LoopedLayout& layout) {
    return PlanLoopedWave(format, static_cast<std::int64_t>(sound.size()), request, layout);
}

std::string PlanLoopedWave(const PcmFormat& format, std::int64_t soundBytes,
                           const LoopRequest& request, LoopedLayout& layout) {
    // The tail is counted in frames in the header but in bytes per second in its buffer; only a
    // consistent block makes the two agree.
    if (!IsConsistent(format) || format.nBlockAlign < 1 || format.nSamplesPerSec < 1) {
        return SaveFailed(SaveError::InconsistentFormat);
    }
    const std::int64_t blockAlign = format.nBlockAlign;
    if (request.loopStart < 0 || request.loopStart >= request.loopEnd ||
        std::int64_t{request.loopEnd} * blockAlign > soundBytes) {
        return SaveFailed(SaveError::BadLoop);
    }
    if (request.repeatCount < 0 || request.fadeSeconds < 0) return SaveFailed(SaveError::BadCounts);
    if (!SamplerLoopHasPass(request.samplerLoop, request.repeatCount)) {
        return SaveFailed(SaveError::SamplerNeedsPass);
    }
    // Each step is a 32-bit quantity of the file; each must stay inside that range.
    const std::int64_t loopFrames = std::int64_t{request.loopEnd} - request.loopStart;
    const std::int64_t passFrames = loopFrames * request.repeatCount;
    const std::int64_t bodyFrames = passFrames + request.loopStart;
    const std::int64_t tailFrames = std::int64_t{request.fadeSeconds} * format.nSamplesPerSec;
    const std::int64_t frames = bodyFrames + tailFrames;
    const std::int64_t dataBytes = blockAlign * frames;
    const std::int64_t trailerBytes = SamplerTrailerBytes(request, dataBytes);
    for (const std::int64_t value :
         {passFrames, bodyFrames, tailFrames, frames, dataBytes + 36 + trailerBytes,
          SamplerReadBackEnd(request, dataBytes)}) {
        if (value > kInt32Max) return SaveFailed(SaveError::TooLarge);
    }
    layout.introBytes = std::int64_t{request.loopStart} * blockAlign;
    layout.loopBytes = loopFrames * blockAlign;
    layout.tailFrames = tailFrames;
    layout.tailBytes = std::int64_t{request.fadeSeconds} * format.nAvgBytesPerSec;  // = M * BA here
    layout.dataBytes = dataBytes;
    layout.trailerBytes = trailerBytes;
    return "";
}

std::vector<std::uint8_t> WaveHeader(const PcmFormat& format, std::int64_t dataBytes,
                                     std::int64_t trailerBytes) {
    std::vector<std::uint8_t> out;
    out.reserve(kHeaderBytes);
    const auto data = static_cast<std::uint32_t>(dataBytes);
    PutId(out, "RIFF");
    PutU32(out, data + 36 + static_cast<std::uint32_t>(trailerBytes));  // rest of the file
    PutId(out, "WAVE");
    PutId(out, "fmt ");
    PutU32(out, kFormatBlockBytes);  // size of the format block
    const std::vector<std::uint8_t> block = FormatBlockBytes(format);
    out.insert(out.end(), block.begin(), block.end());  // the loaded block, byte for byte
    PutId(out, "data");
    PutU32(out, data);  // sample bytes that follow
    return out;
}

std::string RenderLoopedWave(const PcmFormat& format, std::span<const std::uint8_t> sound,
                             const LoopRequest& request, ByteSink& sink) {
    LoopedLayout layout;
    if (std::string message = PlanLoopedWave(format, sound, request, layout); !message.empty()) {
        return message;
    }
    const auto put = [&](std::span<const std::uint8_t> bytes) {
        return bytes.empty() || sink.Write(bytes);
    };
    if (!put(WaveHeader(format, layout.dataBytes, layout.trailerBytes)))
        return sink.FailureReason();
    if (!put(Slice(sound, 0, layout.introBytes))) return sink.FailureReason();
    // The loop needs no copy: every pass is written straight from the sound.
    const std::span<const std::uint8_t> loop = Slice(sound, layout.introBytes, layout.loopBytes);
    for (std::int32_t pass = 0; pass < request.repeatCount; ++pass) {
        if (!put(loop)) return sink.FailureReason();
    }
    std::vector<std::uint8_t> tail;
    try {
        const auto tailBytes =
            static_cast<std::size_t>(std::max<std::int64_t>(layout.tailBytes, 0));
        tail.reserve(tailBytes);
        sink.AdviseBuffer(tail.data(), tailBytes);
        tail.resize(tailBytes);
    } catch (const std::bad_alloc&) {
        return SaveFailed(SaveError::OutOfMemory);
    }
    FillTail(format, sound, request, layout, tail);
    if (!put(tail)) return sink.FailureReason();
    if (!put(SamplerTrailer(format, request, layout))) return sink.FailureReason();
    return "";
}

}  // namespace wave
