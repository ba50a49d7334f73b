// The one loaded sound of the process and the named procedures over it: loading, saving and the
// preview device. Each procedure is a few lines of glue over the core (wave_core.h) and the
// wave-output calls (platform/wave_out.h). No Qt, no SDL.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/wave_out.h"
#include "sound/wave_core.h"

namespace wavemisc {

// Loaded sound state: empty at start, replaced together only by an accepted load.
extern PcmFormat SoundFormat;
extern std::vector<std::uint8_t> SoundData;
extern std::int32_t DataSize;
extern std::vector<std::uint8_t> PreviewData;  // 4 * nAvgBytesPerSec bytes
extern platform::WAVEHDR PreviewHeader;
extern platform::HWAVEOUT WaveOutHandle;

// "" when the sound is loaded and the device open; otherwise the message for the user. A refused
// file leaves everything above, and a playing preview, untouched.
std::string LoadWave(const std::string& path);

// Writes the looped file of the loaded sound. "" or a message that begins "保存に失敗しました";
// on failure the file at `FileName` is as it was.
std::string SaveLoopedWave(std::string FileName, std::int32_t RepeatCount,
                           std::int32_t FadeSeconds, std::int32_t LoopStart, std::int32_t LoopEnd);

std::string OpenPreviewDevice();
void ClosePreviewDevice();
void StopPreview();
void PlayPreview();
std::int32_t GetPreviewPosition();

}  // namespace wavemisc
