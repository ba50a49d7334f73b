// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/id3v2_extent.h"

#include <algorithm>
#include <array>
#include <new>
#include <span>
#include <vector>

#include "files/sound_file.h"

namespace files {

namespace {

// A tag larger than this is taken at its stated size: pictures make tags of a few MiB at most.
constexpr std::int64_t kMostWalkedBytes = std::int64_t{16} << 20;

bool IsFrameIdByte(std::uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

std::int64_t BigEndian(const std::uint8_t* p, int bytes, int bitsPerByte) {
    std::int64_t value = 0;
    for (int k = 0; k < bytes; ++k)
        value = value << bitsPerByte | (p[k] & ((1 << bitsPerByte) - 1));
    return value;
}

// Where the tag's frames and padding end, walked from its first frame; `stated` when they fill
// it, or when the walk cannot be trusted.
std::int64_t AudioAt(std::span<const std::uint8_t> tag, std::int64_t stated) {
    const std::uint8_t major = tag[3];
    const std::uint8_t flags = tag[5];
    // Before version 4 a whole-tag unsynchronisation changes the frames' sizes, and an extended
    // header would have to be read first: such tags are taken at their word.
    if (major < 2 || major > 4 || (flags & 0x40) != 0 || (major < 4 && (flags & 0x80) != 0) ||
        (flags & 0x10) != 0)
        return stated;
    const std::size_t headerBytes = major == 2 ? 6 : 10;
    std::size_t at = 10;
    const std::size_t end = tag.size();
    const auto audioFrom = [&](std::size_t from) -> std::int64_t {
        // Padding is zeros; audio begun inside the stated size starts with an MPEG frame.
        while (from < end && tag[from] == 0) ++from;
        if (from + 4 <= end && IsMpegFrameHeader(tag.data() + from))
            return static_cast<std::int64_t>(from);
        return stated;
    };
    while (at + headerBytes <= end) {
        const std::uint8_t* frame = tag.data() + at;
        if (frame[0] == 0) return audioFrom(at);
        const std::size_t idBytes = major == 2 ? 3 : 4;
        if (!std::all_of(frame, frame + idBytes, IsFrameIdByte)) return audioFrom(at);
        const std::int64_t size = major == 2   ? BigEndian(frame + 3, 3, 8)
                                  : major == 3 ? BigEndian(frame + 4, 4, 8)
                                               : BigEndian(frame + 4, 4, 7);
        if (size > static_cast<std::int64_t>(end - at - headerBytes)) return stated;
        at += headerBytes + static_cast<std::size_t>(size);
    }
    return at < end ? audioFrom(at) : stated;
}

}  // namespace

bool IsMpegFrameHeader(const std::uint8_t* p) {
    const int version = p[1] >> 3 & 3;
    const int layer = p[1] >> 1 & 3;
    const int bitRate = p[2] >> 4;
    const int sampleRate = p[2] >> 2 & 3;
    return p[0] == 0xFF && (p[1] & 0xE0) == 0xE0 && version != 1 && layer != 0 && bitRate != 15 &&
           sampleRate != 3;
}

Id3v2Extent Id3v2ExtentOf(wave::ByteSource& source) {
    Id3v2Extent extent;
    std::array<std::uint8_t, 10> head{};
    if (source.Size() < 10 || !source.Read(0, head.data(), head.size())) return extent;
    extent.statedBytes = Id3v2Bytes(head);
    extent.audioAt = extent.statedBytes;
    const std::int64_t walked = std::min(extent.statedBytes, source.Size());
    if (extent.statedBytes == 0 || walked > kMostWalkedBytes) return extent;
    try {
        std::vector<std::uint8_t> tag(static_cast<std::size_t>(walked));
        if (!source.Read(0, tag.data(), tag.size())) return extent;
        extent.audioAt = AudioAt(tag, extent.statedBytes);
    } catch (const std::bad_alloc&) {
    }
    return extent;
}

}  // namespace files
