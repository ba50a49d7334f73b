// SPDX-License-Identifier: GPL-3.0-or-later
// Loading validates the whole file before anything here changes.
#include "app/loaded_sound.h"

#include <new>
#include <utility>

#include "app/preview_device.h"
#include "files/looped_wave_file.h"
#include "files/wave_file.h"
#include "wave/rounding.h"
#include "wave/seam_preview.h"
#include "wave/user_texts.h"

namespace wavemisc {

wave::PcmFormat SoundFormat;
std::vector<std::uint8_t> SoundData;
std::int32_t DataSize = 0;
std::vector<std::uint8_t> PreviewData;
platform::WAVEHDR PreviewHeader;
platform::HWAVEOUT WaveOutHandle = 0;

namespace {

// Four seconds of bytes, or -1 when that leaves the signed 32-bit range.
std::int64_t PreviewBytesOf(const wave::PcmFormat& format) {
    const std::int64_t bytes = wave::PreviewBytes(format);
    return bytes < 0 || bytes > wave::kInt32Max ? -1 : bytes;
}

}  // namespace

std::string LoadWave(const std::string& path) {
    wave::ParseResult parsed = files::ReadWaveFile(path);
    if (parsed.error != wave::WaveError::None) return std::string(wave::UserMessage(parsed.error));

    // The reader already keeps both sizes inside 32 bits; checked again because the commit
    // below must not fail halfway.
    const std::int64_t previewBytes = PreviewBytesOf(parsed.wave.format);
    if (previewBytes < 0 || parsed.wave.data.size() > static_cast<std::size_t>(wave::kInt32Max)) {
        return std::string(wave::UserMessage(wave::WaveError::BadFormat));
    }
    // Allocated before the commit, so running out of memory leaves the old sound in place.
    std::vector<std::uint8_t> preview;
    try {
        preview.assign(static_cast<std::size_t>(previewBytes), 0);
    } catch (const std::bad_alloc&) {
        return std::string(wave::UserMessage(wave::WaveError::OutOfMemory));
    }

    // Commit: the old device must stop reading the old PreviewData before it goes.
    ClosePreviewDevice();
    SoundFormat = parsed.wave.format;
    DataSize = static_cast<std::int32_t>(parsed.wave.data.size());
    SoundData = std::move(parsed.wave.data);
    PreviewData = std::move(preview);
    return OpenPreviewDevice();
}

std::string SaveLoopedWave(std::string FileName, std::int32_t RepeatCount, std::int32_t FadeSeconds,
                           std::int32_t LoopStart, std::int32_t LoopEnd) {
    if (SoundFormat.wFormatTag == 0) return wave::SaveFailed(wave::SaveError::NoSound);
    wave::LoopRequest request;
    request.loopStart = LoopStart;
    request.loopEnd = LoopEnd;
    request.repeatCount = RepeatCount;
    request.fadeSeconds = FadeSeconds;
    return files::WriteLoopedWaveFile(FileName, SoundFormat, SoundData, request);
}

std::string FillPreviewData(std::int32_t LoopStart, std::int32_t LoopEnd) {
    return wave::FillPreview(SoundFormat, SoundData, LoopStart, LoopEnd, PreviewData);
}

std::vector<finder::LoopCandidate> FindLoopCandidates(int count) {
    finder::FinderOptions options;
    options.maxCandidates = count;
    return finder::FindLoops(SoundFormat, SoundData, options);
}

std::optional<finder::LoopCandidate> RefineLoopPoints(std::int32_t LoopStart, std::int32_t LoopEnd,
                                                      double radiusSeconds) {
    return finder::RefineLoop(SoundFormat, SoundData, LoopStart, LoopEnd, radiusSeconds);
}

}  // namespace wavemisc
