// SPDX-License-Identifier: GPL-3.0-or-later
// Loading validates the whole file before anything here changes.
#include "app/loaded_sound.h"

#include <new>
#include <system_error>
#include <utility>

#include "app/preview_device.h"
#include "files/loop_tags.h"
#include "files/sound_writer.h"
#include "wave/loop_rules.h"
#include "wave/rounding.h"
#include "wave/seam_preview.h"
#include "wave/user_texts.h"

namespace wavemisc {

LoadedFile SoundFile;
wave::PcmFormat& SoundFormat = SoundFile.sound.wave.format;
std::vector<std::uint8_t>& SoundData = SoundFile.sound.wave.data;
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

// The file's stamp; nothing when it cannot be read.
std::optional<FileStamp> StampOf(const std::string& path) {
    std::error_code error;
    FileStamp stamp;
    stamp.bytes = std::filesystem::file_size(path, error);
    if (error) return std::nullopt;
    stamp.modified = std::filesystem::last_write_time(path, error);
    if (error) return std::nullopt;
    return stamp;
}

}  // namespace

std::string LoadWave(const std::string& path) {
    // Taken before the read, so that a change during the read also counts as a change.
    std::optional<FileStamp> stamp = StampOf(path);
    files::SoundRead read = files::ReadSound(path, files::WaveReaders::AsTheWindow);
    if (!read.error.empty()) return std::move(read.error);
    const wave::ParsedWave& parsed = read.sound.wave;

    // The readers already keep both sizes inside 32 bits; checked again because the commit
    // below must not fail halfway.
    const std::int64_t previewBytes = PreviewBytesOf(parsed.format);
    if (previewBytes < 0 || parsed.data.size() > static_cast<std::size_t>(wave::kInt32Max)) {
        return std::string(wave::UserMessage(wave::WaveError::BadFormat));
    }
    // Allocated before the commit, so running out of memory leaves the old sound in place.
    std::vector<std::uint8_t> preview;
    std::string openedPath;
    try {
        preview.assign(static_cast<std::size_t>(previewBytes), 0);
        openedPath = path;
    } catch (const std::bad_alloc&) {
        return std::string(wave::UserMessage(wave::WaveError::OutOfMemory));
    }

    // Commit: the old device must stop reading the old PreviewData before it goes.
    ClosePreviewDevice();
    DataSize = static_cast<std::int32_t>(parsed.data.size());
    SoundFile.sound = std::move(read.sound);  // SoundFormat and SoundData with it
    SoundFile.path = std::move(openedPath);
    SoundFile.stamp = stamp;
    PreviewData = std::move(preview);
    return OpenPreviewDevice();
}

bool LoadDecodes(const std::string& path) {
    const files::Container container = files::ContainerOfFile(path);
    return container != files::Container::Riff && container != files::Container::Unknown;
}

std::string SaveLoopedWave(std::string FileName, std::int32_t RepeatCount, std::int32_t FadeSeconds,
                           std::int32_t LoopStart, std::int32_t LoopEnd) {
    if (SoundFormat.wFormatTag == 0) return wave::SaveFailed(wave::SaveError::NoSound);
    wave::LoopRequest request;
    request.loopStart = LoopStart;
    request.loopEnd = LoopEnd;
    request.repeatCount = RepeatCount;
    request.fadeSeconds = FadeSeconds;
    files::Encoding encoding;
    encoding.format = files::OutputFormatForName(FileName);
    return files::WriteLoopedSound(FileName, SoundFile.sound, request, encoding);
}

std::string WriteLoopIntoFile(std::int32_t LoopStart, std::int32_t LoopEnd) {
    if (SoundFormat.wFormatTag == 0) return wave::SaveFailed(wave::SaveError::NoSound);
    const wave::LoopLimits limits = wave::LoopLimitsOf(SoundFormat, DataSize);
    if (!wave::KeepsLoopRule(limits, LoopStart, LoopEnd))
        return wave::LoopOutsideRules(limits.halfWindowFrames, limits.lastFrame, LoopStart,
                                      LoopEnd);
    if (!SoundFile.stamp || StampOf(SoundFile.path) != SoundFile.stamp)
        return std::string(wave::kTagFileChanged);
    const files::LoopTag tag{LoopStart, std::int64_t{LoopEnd} - LoopStart};
    std::string message = files::TagFile(SoundFile.path, SoundFile.sound, tag);
    // The file is ours again as written: the loop may be written once more.
    if (message.empty()) SoundFile.stamp = StampOf(SoundFile.path);
    return message;
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
