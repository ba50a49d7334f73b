// SPDX-License-Identifier: GPL-3.0-or-later
// Module wavemisc: the one loaded sound of the process and the named procedures over it. Each
// procedure is a few lines of glue over the wave layer, the file layer, the seam finder and the
// wave-output calls (preview_device.h). No Qt, no SDL.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "files/sound_file.h"
#include "finder/loop_finder.h"
#include "platform/wave_out.h"
#include "wave/pcm_format.h"

namespace wavemisc {

// When a file was last changed, and its size: a file whose stamp still matches is taken to be
// the file that was read.
struct FileStamp {
    std::uintmax_t bytes = 0;
    std::filesystem::file_time_type modified{};
    bool operator==(const FileStamp&) const = default;
};

// The file the loaded sound was read from: its path as opened, its stamp from before the read,
// and the sound as the file layer read it (the wave reader's bytes, or a compressed file decoded
// to 16-bit PCM with its container, its codec and a 24-bit source's own samples), so that a save
// writes every format and Ctrl+T tags the file as the command line does. SoundFormat and
// SoundData below are its sound's format block and samples.
struct LoadedFile {
    std::string path;
    std::optional<FileStamp> stamp;
    files::Sound sound;
};
extern LoadedFile SoundFile;

// Loaded sound state: empty at start, replaced together only by an accepted load.
extern wave::PcmFormat& SoundFormat;
extern std::vector<std::uint8_t>& SoundData;
extern std::int32_t DataSize;
extern std::vector<std::uint8_t> PreviewData;  // 4 * nAvgBytesPerSec bytes
extern platform::WAVEHDR PreviewHeader;
extern platform::HWAVEOUT WaveOutHandle;

// "" when the sound is loaded and the device open; otherwise the message for the user. A refused
// file leaves everything above, and a playing preview, untouched. A wave file, or a file that no
// reader takes, goes to the wave reader; FLAC, Ogg Vorbis, Ogg Opus, MP3 and AIFF, known by their
// first bytes, are decoded.
std::string LoadWave(const std::string& path);

// Whether loading the file at `path` decodes it, which for a long file takes a while.
bool LoadDecodes(const std::string& path);

// Writes the looped file of the loaded sound, in the format the name's extension names (".flac",
// ".ogg" or ".oga", ".opus", ".mp3", as `rundelt-cli save` does), or a wave file for any other
// name. "" or a message that begins "保存に失敗しました"; on failure the file at `FileName` is as
// it was.
std::string SaveLoopedWave(std::string FileName, std::int32_t RepeatCount, std::int32_t FadeSeconds,
                           std::int32_t LoopStart, std::int32_t LoopEnd);

// Writes the loop LoopStart .. LoopEnd into the file the loaded sound was read from, as
// `rundelt-cli tag FILE --start LoopStart --end LoopEnd` does; the file's sound is not changed.
// A file changed since it was read is refused. "" or the message.
std::string WriteLoopIntoFile(std::int32_t LoopStart, std::int32_t LoopEnd);

// The seam preview of the loaded sound into PreviewData: the 2 seconds before LoopEnd, then the
// 2 seconds from LoopStart. "" or the message for the user; on a message PreviewData is as it
// was. The device must not be reading PreviewData (StopPreview first).
std::string FillPreviewData(std::int32_t LoopStart, std::int32_t LoopEnd);

// The finder's best loops of the loaded sound, at most `count`, best first.
std::vector<finder::LoopCandidate> FindLoopCandidates(int count);

// The loop LoopStart .. LoopEnd refined, each point moving at most radiusSeconds; nothing when
// no loop there has a seam that passes.
std::optional<finder::LoopCandidate> RefineLoopPoints(std::int32_t LoopStart, std::int32_t LoopEnd,
                                                      double radiusSeconds);

}  // namespace wavemisc
