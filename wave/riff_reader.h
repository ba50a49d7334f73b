// SPDX-License-Identifier: GPL-3.0-or-later
// Generic RIFF reading, apart from what a wave file means: the byte source a file or a buffer
// offers, a reader that checks every read against the bytes present, and chunk headers.
// Standard library only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace wave {

// Random access to the bytes of one file or buffer. Read() fills exactly `size` bytes at
// `offset` or returns false; callers never ask for bytes beyond Size().
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::int64_t Size() const = 0;
    virtual bool Read(std::int64_t offset, std::uint8_t* dest, std::size_t size) = 0;
    // Called on a large buffer that is allocated but not yet touched, before it is filled from
    // this source. A file source may ask the system for huge pages; only a hint.
    virtual void AdviseBuffer(std::uint8_t* bytes, std::size_t size);
};

// The bytes of a buffer the caller keeps alive.
class SpanSource final : public ByteSource {
public:
    explicit SpanSource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::int64_t Size() const override { return static_cast<std::int64_t>(bytes_.size()); }
    bool Read(std::int64_t offset, std::uint8_t* dest, std::size_t size) override;

private:
    std::span<const std::uint8_t> bytes_;
};

// Fixed-size reads from a ByteSource, each checked against the bytes present.
class ByteReader {
public:
    explicit ByteReader(ByteSource& source) : source_(source), size_(source.Size()) {}

    ByteSource& Source() { return source_; }
    std::int64_t Size() const { return size_; }
    std::int64_t Remaining(std::int64_t offset) const {
        return offset >= size_ ? 0 : size_ - offset;
    }

    // The N bytes at `offset`, or nothing when the source does not hold them all or a read fails.
    template <std::size_t N>
    std::optional<std::array<std::uint8_t, N>> Bytes(std::int64_t offset) {
        std::array<std::uint8_t, N> out{};
        if (offset < 0 || Remaining(offset) < static_cast<std::int64_t>(N)) return std::nullopt;
        if (!source_.Read(offset, out.data(), N)) return std::nullopt;
        return out;
    }

    bool ReadInto(std::int64_t offset, std::uint8_t* dest, std::size_t size);

private:
    ByteSource& source_;
    std::int64_t size_;
};

// Whether four bytes spell a chunk or form id.
bool IdIs(const std::uint8_t* bytes, const char (&id)[5]);

// An 8-byte chunk header: its id and its size, read signed as the loader has always read it.
struct ChunkHeader {
    std::array<std::uint8_t, 4> id{};
    std::int64_t size = 0;
    std::int64_t offset = 0;  // where the header stands

    bool Is(const char (&name)[5]) const { return IdIs(id.data(), name); }
    std::int64_t Payload() const { return offset + 8; }
};

// The header at `offset`, or nothing when the source does not hold 8 bytes there or a read fails.
std::optional<ChunkHeader> ReadChunkHeader(ByteReader& reader, std::int64_t offset);

}  // namespace wave
