// The looped file: its sizes, its header and its tail. safe_file.cpp takes it to the disk.
#include <algorithm>
#include <cerrno>
#include <new>

#include "sound/huge_pages.h"
#include "sound/le_bytes.h"
#include "sound/safe_file.h"
#include "sound/sampler_chunk.h"
#include "sound/wave_core.h"

namespace wavemisc {

namespace {

using detail::PutId;
using detail::PutU16;
using detail::PutU32;

std::span<const std::uint8_t> Slice(std::span<const std::uint8_t> bytes, std::int64_t from,
                                    std::int64_t count) {
    return bytes.subspan(static_cast<std::size_t>(from), static_cast<std::size_t>(count));
}

}  // namespace

std::string ByteSink::FailureReason() const { return SaveFailed("書き込みに失敗しました"); }

std::string PlanLoopedWave(const PcmFormat& format, std::span<const std::uint8_t> sound,
                           const LoopRequest& request, LoopedLayout& layout) {
    return PlanLoopedWave(format, static_cast<std::int64_t>(sound.size()), request, layout);
}

std::string PlanLoopedWave(const PcmFormat& format, std::int64_t soundBytes,
                           const LoopRequest& request, LoopedLayout& layout) {
    // The tail is counted in frames in the header but in bytes per second in its buffer; only a
    // consistent block makes the two agree.
    if (!IsConsistent(format) || format.nBlockAlign < 1 || format.nSamplesPerSec < 1) {
        return SaveFailed("フォーマットが不整合です");
    }
    const std::int64_t blockAlign = format.nBlockAlign;
    if (request.loopStart < 0 || request.loopStart >= request.loopEnd ||
        std::int64_t{request.loopEnd} * blockAlign > soundBytes) {
        return SaveFailed("ループ範囲が不正です");
    }
    if (request.repeatCount < 0 || request.fadeSeconds < 0) {
        return SaveFailed("繰り返し回数またはフェードの長さが不正です");
    }
    if (request.samplerLoop && request.repeatCount < 1) {
        return SaveFailed("ループ情報にはリピート回数が1以上必要です");  // no pass to mark
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
        if (value > kInt32Max) return SaveFailedErrno(EFBIG);
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
    PutU32(out, 16);  // size of the format block
    const std::vector<std::uint8_t> block = FormatBlockBytes(format);
    out.insert(out.end(), block.begin(), block.end());  // the loaded block, byte for byte
    PutId(out, "data");
    PutU32(out, data);  // sample bytes that follow
    return out;
}

std::vector<std::uint8_t> BuildTail(const PcmFormat& format, std::span<const std::uint8_t> sound,
                                    const LoopRequest& request, const LoopedLayout& layout) {
    const auto tailBytes = static_cast<std::size_t>(std::max<std::int64_t>(layout.tailBytes, 0));
    std::vector<std::uint8_t> tail;
    tail.reserve(tailBytes);
    PreferHugePages(tail.data(), tailBytes);
    tail.resize(tailBytes);
    const std::int64_t blockAlign = format.nBlockAlign;
    const std::int64_t loopFrames = std::int64_t{request.loopEnd} - request.loopStart;
    const std::int64_t from = std::int64_t{request.loopStart} * blockAlign;
    std::int64_t remaining = layout.tailFrames;
    std::int64_t position = 0;
    // Whole passes of the loop from its start, then the first frames of one more.
    while (remaining > 0 && loopFrames > 0) {
        const std::int64_t chunk = request.loopStart + remaining <= request.loopEnd ? remaining : loopFrames;
        const std::int64_t bytes = chunk * blockAlign;
        if (from < 0 || from + bytes > static_cast<std::int64_t>(sound.size()) ||
            position + bytes > static_cast<std::int64_t>(tail.size())) {
            break;  // a layout not made by PlanLoopedWave for these inputs: never leave the buffers
        }
        const std::span<const std::uint8_t> source = Slice(sound, from, bytes);
        std::copy(source.begin(), source.end(), tail.begin() + static_cast<std::ptrdiff_t>(position));
        position += bytes;
        remaining -= chunk;
    }
    ApplyFade(tail, format.wBitsPerSample);
    return tail;
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
    if (!put(WaveHeader(format, layout.dataBytes, layout.trailerBytes))) return sink.FailureReason();
    if (!put(Slice(sound, 0, layout.introBytes))) return sink.FailureReason();
    // The loop needs no copy: every pass is written straight from the sound.
    const std::span<const std::uint8_t> loop = Slice(sound, layout.introBytes, layout.loopBytes);
    for (std::int32_t pass = 0; pass < request.repeatCount; ++pass) {
        if (!put(loop)) return sink.FailureReason();
    }
    std::vector<std::uint8_t> tail;
    try {
        tail = BuildTail(format, sound, request, layout);
    } catch (const std::bad_alloc&) {
        return SaveFailed("メモリが不足しています");
    }
    if (!put(tail)) return sink.FailureReason();
    if (!put(SamplerTrailer(format, request, layout))) return sink.FailureReason();
    return "";
}

std::string WriteLoopedWaveFile(const std::string& path, const PcmFormat& format,
                                std::span<const std::uint8_t> sound, const LoopRequest& request) {
    // Every refusal of the plan comes before anything is created.
    LoopedLayout layout;
    if (std::string message = PlanLoopedWave(format, sound, request, layout); !message.empty()) {
        return message;
    }
    AtomicFile file;
    if (std::string message = file.Create(path); !message.empty()) return message;
    if (std::string message = RenderLoopedWave(format, sound, request, file); !message.empty()) {
        return message;  // the temporary file goes with `file`
    }
    return file.Commit();
}

std::string WriteFileAtomically(const std::string& path,
                                std::span<const std::span<const std::uint8_t>> parts) {
    AtomicFile file;
    if (std::string message = file.Create(path); !message.empty()) return message;
    for (const std::span<const std::uint8_t> part : parts) {
        if (!part.empty() && !file.Write(part)) return file.FailureReason();
    }
    return file.Commit();
}

}  // namespace wavemisc
