// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/source_cursor.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace files {

SourceCursor::SourceCursor(wave::ByteSource& source, std::int64_t start)
    : source_(source),
      start_(std::clamp<std::int64_t>(start, 0, source.Size())),
      length_(source.Size() - start_) {}

std::size_t SourceCursor::Read(void* to, std::size_t bytes) {
    if (at_ >= length_ || bytes == 0) return 0;
    const auto n = static_cast<std::size_t>(std::min<std::int64_t>(
        length_ - at_, static_cast<std::int64_t>(std::min<std::size_t>(
                           bytes, std::numeric_limits<std::int32_t>::max()))));
    auto* out = static_cast<std::uint8_t*>(to);
    // Small reads (an MPEG frame at a time) come from a block read ahead, not a call each.
    const bool small = n <= kAheadBytes / 2;
    const bool buffered =
        at_ >= aheadAt_ &&
        at_ + static_cast<std::int64_t>(n) <= aheadAt_ + static_cast<std::int64_t>(ahead_.size());
    if (small && !buffered) {
        const auto fill = static_cast<std::size_t>(
            std::min<std::int64_t>(length_ - at_, static_cast<std::int64_t>(kAheadBytes)));
        ahead_.resize(fill);
        if (!source_.Read(start_ + at_, ahead_.data(), fill)) {
            ahead_.clear();
            failed_ = true;
            return 0;
        }
        aheadAt_ = at_;
    }
    if (small) {
        std::copy_n(ahead_.data() + (at_ - aheadAt_), n, out);
    } else if (!source_.Read(start_ + at_, out, n)) {
        failed_ = true;
        return 0;
    }
    at_ += static_cast<std::int64_t>(n);
    return n;
}

std::int64_t SourceCursor::Seek(std::int64_t offset, int whence) {
    const std::int64_t base = whence == SEEK_CUR ? at_ : whence == SEEK_END ? length_ : 0;
    // Offsets beyond any file we read are refused before they could overflow.
    constexpr std::int64_t kFar = std::int64_t{1} << 62;
    if (offset > kFar || offset < -kFar || base + offset < 0) return -1;
    at_ = base + offset;
    return at_;
}

}  // namespace files
