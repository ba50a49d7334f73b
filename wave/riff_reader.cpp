// SPDX-License-Identifier: GPL-3.0-or-later
#include "wave/riff_reader.h"

#include <algorithm>

#include "wave/le_bytes.h"

namespace wave {

void ByteSource::AdviseBuffer(std::uint8_t* bytes, std::size_t size) {
    (void)bytes;
    (void)size;
}

bool SpanSource::Read(std::int64_t offset, std::uint8_t* dest, std::size_t size) {
    if (offset < 0 || static_cast<std::uint64_t>(offset) > bytes_.size() ||
        size > bytes_.size() - static_cast<std::size_t>(offset)) {
        return false;
    }
    std::copy_n(bytes_.data() + offset, size, dest);
    return true;
}

bool ByteReader::ReadInto(std::int64_t offset, std::uint8_t* dest, std::size_t size) {
    if (size == 0) return true;
    if (offset < 0 || Remaining(offset) < static_cast<std::int64_t>(size)) return false;
    return source_.Read(offset, dest, size);
}

bool IdIs(const std::uint8_t* bytes, const char (&id)[5]) {
    return std::equal(bytes, bytes + 4, id,
                      [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); });
}

std::optional<ChunkHeader> ReadChunkHeader(ByteReader& reader, std::int64_t offset) {
    const auto bytes = reader.Bytes<8>(offset);
    if (!bytes) return std::nullopt;
    ChunkHeader header;
    std::copy_n(bytes->begin(), 4, header.id.begin());
    header.size = ReadS32(&(*bytes)[4]);
    header.offset = offset;
    return header;
}

}  // namespace wave
