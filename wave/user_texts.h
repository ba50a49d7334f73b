// SPDX-License-Identifier: GPL-3.0-or-later
// The one table of the texts the user reads when something is refused or fails: the reader's
// verdicts, the reasons a save gives, the preview's refusals, the finder's and the device's. The
// core reports codes; only this file turns them into words, kept exactly as given. Standard
// library only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace wave {

enum class WaveError {
    None,
    CannotOpen,    // missing, a folder, no permission, a read error
    FileTooLarge,  // 2^31 - 8 bytes or more: offsets would leave 32 bits
    BadRiffHeader,
    BadChunkSize,
    NotPcm,
    BadFormat,
    NotWave,   // no "fmt " or no "data" chunk
    TooShort,  // under 5 seconds
    OutOfMemory,
};

std::string_view UserMessage(WaveError error);

// Every save failure message begins with this.
inline constexpr std::string_view kSaveFailed = "保存に失敗しました";

enum class SaveError {
    InconsistentFormat,  // the format block's sizes disagree
    BadLoop,             // the loop leaves the sound
    BadCounts,           // a negative repeat count or fade
    SamplerNeedsPass,    // a sampler loop with no pass to mark
    NoSound,             // nothing loaded
    OutOfMemory,
    WriteFailed,  // a write that failed without saying why
    NoSpace,
    NotPermitted,
    NoFolder,
    NotRegularFile,
    TooLarge,
    NameTooLong,
    Stopped,  // the user stopped it
    IoError,
    Busy,
    TooManyLinks,
    NoName,  // the destination is empty, or a file that no longer has a name
};

// kSaveFailed, "：" and the reason.
std::string SaveFailed(SaveError error);
// The same with a reason in the system's own words, for failures the table has no name for.
std::string SaveFailed(std::string_view reason);
// The reason alone, without kSaveFailed.
std::string_view SaveReason(SaveError error);

// A save whose new file took the destination's name, but whose folder could not be made to keep
// that name on disk: it is there, only not yet for certain.
std::string SavedButNotSure(std::string_view reason);

// A failed save whose hidden temporary file could not be removed either: the message, and where
// that file was left, so the user can remove it.
std::string WithFileLeft(std::string message, std::string_view path);

enum class PreviewError {
    None,
    InconsistentFormat,  // the halves' bytes and frames would disagree
    BufferSize,          // the preview buffer is not four seconds of bytes
    BadLoop,             // a half would leave the sound
};

std::string_view UserMessage(PreviewError error);

// What the user reads when the seam finder has no candidate.
inline constexpr std::string_view kNoLoopFound = "ループ候補が見つかりませんでした";

// What the window holds as its load error before any file is chosen.
inline constexpr std::string_view kNoFileChosen = "ファイル未選択";

// The sound device could not be opened: the prefix and the device's own code.
std::string DeviceOpenFailed(std::uint32_t code);

}  // namespace wave
