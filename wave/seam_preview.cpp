// SPDX-License-Identifier: GPL-3.0-or-later
#include "wave/seam_preview.h"

#include <algorithm>

#include "wave/loop_rules.h"
#include "wave/rounding.h"
#include "wave/user_texts.h"

namespace wave {

std::string FillPreview(const PcmFormat& format, std::span<const std::uint8_t> sound,
                        std::int32_t loopStart, std::int32_t loopEnd,
                        std::span<std::uint8_t> preview) {
    // With an inconsistent block the halves' bytes and frames disagree and could leave the sound.
    if (!IsConsistent(format) || format.nBlockAlign < 1) {
        return std::string(UserMessage(PreviewError::InconsistentFormat));
    }
    const std::int64_t previewBytes = PreviewBytes(format);
    if (previewBytes > kInt32Max || static_cast<std::int64_t>(preview.size()) != previewBytes) {
        return std::string(UserMessage(PreviewError::BufferSize));
    }
    const std::int64_t half = previewBytes / 2;
    const std::int64_t blockAlign = format.nBlockAlign;
    const std::int64_t firstFrom = (std::int64_t{loopEnd} - HalfWindowFrames(format)) * blockAlign;
    const std::int64_t secondFrom = std::int64_t{loopStart} * blockAlign;
    const auto soundBytes = static_cast<std::int64_t>(sound.size());
    const auto inside = [&](std::int64_t from) { return from >= 0 && from <= soundBytes - half; };
    if (!inside(firstFrom) || !inside(secondFrom)) {
        return std::string(UserMessage(PreviewError::BadLoop));
    }

    const auto h = static_cast<std::size_t>(half);
    std::copy_n(sound.begin() + static_cast<std::ptrdiff_t>(firstFrom), h, preview.begin());
    std::copy_n(sound.begin() + static_cast<std::ptrdiff_t>(secondFrom), h,
                preview.begin() + static_cast<std::ptrdiff_t>(h));
    return "";
}

}  // namespace wave
