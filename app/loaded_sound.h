// SPDX-License-Identifier: GPL-3.0-or-later
// Module wavemisc: the one loaded sound of the process and the named procedures over it. Each
// procedure is a few lines of glue over the wave layer, the file layer, the seam finder and the
// wave-output calls (preview_device.h). No Qt, no SDL.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "finder/loop_finder.h"
#include "platform/wave_out.h"
#include "wave/pcm_format.h"

namespace wavemisc {

// Loaded sound state: empty at start, replaced together only by an accepted load.
extern wave::PcmFormat SoundFormat;
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
std::string SaveLoopedWave(std::string FileName, std::int32_t RepeatCount, std::int32_t FadeSeconds,
                           std::int32_t LoopStart, std::int32_t LoopEnd);

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
