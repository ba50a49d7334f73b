// SPDX-License-Identifier: GPL-3.0-or-later
// Module wavemisc: the preview output device procedures over the wave-output calls. They make
// exactly the waveOut* calls the preview relies on and look only at the results of the open and
// the position query. No Qt, no SDL.
#pragma once

#include <cstdint>
#include <string>

namespace wavemisc {

// Opens the device for SoundFormat and points PreviewHeader at PreviewData. "" or
// "waveOutOpen失敗：" and the device's code.
std::string OpenPreviewDevice();
void ClosePreviewDevice();
void StopPreview();
// Plays PreviewData once from its start.
void PlayPreview();
// Frames of the preview played so far; 0 with no device or when the query fails.
std::int32_t GetPreviewPosition();

}  // namespace wavemisc
