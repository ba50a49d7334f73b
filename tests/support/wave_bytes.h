// SPDX-License-Identifier: GPL-3.0-or-later
// Test helpers that build wave files byte by byte, so each test states exactly what a file holds.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace testwave {

using Bytes = std::vector<std::uint8_t>;

inline void PutU16(Bytes& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFFu));
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFFu));
}

inline void PutU32(Bytes& out, std::uint32_t value) {
    PutU16(out, value & 0xFFFFu);
    PutU16(out, value >> 16);
}

// Byte by byte like the number writers: a range insert into a vector that must grow makes GCC 12
// at -O3 report a false -Wstringop-overflow in its reallocation path.
inline void PutId(Bytes& out, std::string_view id) {
    for (const char c : id) out.push_back(static_cast<std::uint8_t>(c));
}

inline void PutChunk(Bytes& out, std::string_view id, const Bytes& payload) {
    PutId(out, id);
    PutU32(out, static_cast<std::uint32_t>(payload.size()));
    out.insert(out.end(), payload.begin(), payload.end());
}

inline Bytes Chunk(std::string_view id, const Bytes& payload) {
    Bytes out;
    PutChunk(out, id, payload);
    return out;
}

// A chunk header whose size field says `size`, followed by only `payload`.
inline Bytes ChunkClaiming(std::string_view id, std::uint32_t size, const Bytes& payload) {
    Bytes out;
    PutId(out, id);
    PutU32(out, size);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

inline Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

struct Format {
    std::uint32_t tag = 1;
    std::uint32_t channels = 2;
    std::uint32_t rate = 44100;
    std::uint32_t avgBytes = 176400;
    std::uint32_t blockAlign = 4;
    std::uint32_t bits = 16;
};

inline Format Pcm(std::uint32_t bits, std::uint32_t channels, std::uint32_t rate) {
    const std::uint32_t align = bits / 8 * channels;
    return Format{1, channels, rate, rate * align, align, bits};
}

inline Bytes FmtPayload(const Format& f) {
    Bytes p;
    PutU16(p, f.tag);
    PutU16(p, f.channels);
    PutU32(p, f.rate);
    PutU32(p, f.avgBytes);
    PutU16(p, f.blockAlign);
    PutU16(p, f.bits);
    return p;
}

// "RIFF", size, "WAVE", then the chunks as given; the RIFF size is the file length - 8.
inline Bytes Riff(const Bytes& chunks) {
    Bytes out;
    PutId(out, "RIFF");
    PutU32(out, static_cast<std::uint32_t>(chunks.size() + 4));
    PutId(out, "WAVE");
    out.insert(out.end(), chunks.begin(), chunks.end());
    return out;
}

// The 44 bytes in front of `dataBytes` sample bytes in a plain file.
inline Bytes PlainHeader(const Format& f, std::uint32_t dataBytes) {
    Bytes out;
    PutId(out, "RIFF");
    PutU32(out, 36 + dataBytes);  // rest of the file
    PutId(out, "WAVE");
    PutChunk(out, "fmt ", FmtPayload(f));
    PutId(out, "data");
    PutU32(out, dataBytes);
    return out;
}

// A plain file: one "fmt " chunk of 16 bytes, then one "data" chunk.
inline Bytes Wave(const Format& f, const Bytes& data) {
    Bytes chunks;
    PutChunk(chunks, "fmt ", FmtPayload(f));
    PutChunk(chunks, "data", data);
    return Riff(chunks);
}

// Sample bytes whose every byte tells where it came from: byte k holds (k * 7 + k / 251) & 0xFF.
inline Bytes Pattern(std::size_t size) {
    Bytes out(size);
    for (std::size_t k = 0; k < size; ++k)
        out[k] = static_cast<std::uint8_t>((k * 7 + k / 251) & 0xFFu);
    return out;
}

inline void WriteFile(const std::string& path, const Bytes& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) throw std::runtime_error("cannot create " + path);
    const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (std::fclose(f) != 0 || !ok) throw std::runtime_error("cannot write " + path);
}

inline Bytes ReadFile(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) throw std::runtime_error("cannot open " + path);
    Bytes out;
    std::uint8_t buf[65536];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
    std::fclose(f);
    return out;
}

// A fresh folder under the system's temporary directory, removed with everything in it.
struct TempDir {
    std::string path;
    TempDir() {
        std::string name =
            (std::filesystem::temp_directory_path() / "rundelt_test.XXXXXX").string();
        if (::mkdtemp(name.data()) == nullptr) throw std::runtime_error("cannot create " + name);
        path = name;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
};

}  // namespace testwave
