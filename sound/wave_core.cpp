// The reader, the derived numbers and the preview fill. The writer lives in wave_writer.cpp and
// the fade in fade.cpp. Standard library and POSIX only.
#include "sound/wave_core.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <new>
#include <optional>
#include <utility>

#include "sound/huge_pages.h"
#include "sound/le_bytes.h"

namespace wavemisc {

namespace {

constexpr std::int64_t kMaxFileBytes = kInt32Max - 7;  // 2^31 - 8: offsets stay inside 32 bits

std::int16_t S16(const std::uint8_t* p) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | p[1] << 8));
}

std::int32_t S32(const std::uint8_t* p) {
    const std::uint32_t u = std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 |
                            std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
    return static_cast<std::int32_t>(u);
}

using detail::PutU16;
using detail::PutU32;

std::uint32_t Bits16(std::int16_t value) { return static_cast<std::uint16_t>(value); }
std::uint32_t Bits32(std::int32_t value) { return static_cast<std::uint32_t>(value); }

// Reads fixed-size little-endian fields from a ByteSource, each read checked against its size.
class ByteReader {
public:
    explicit ByteReader(ByteSource& source) : source_(source), size_(source.Size()) {}

    std::int64_t Size() const { return size_; }
    std::int64_t Remaining(std::int64_t offset) const { return offset >= size_ ? 0 : size_ - offset; }

    // The N bytes at `offset`, or nothing when the file does not hold them all or a read fails.
    template <std::size_t N>
    std::optional<std::array<std::uint8_t, N>> Bytes(std::int64_t offset) {
        std::array<std::uint8_t, N> out{};
        if (offset < 0 || Remaining(offset) < static_cast<std::int64_t>(N)) return std::nullopt;
        if (!source_.Read(offset, out.data(), N)) return std::nullopt;
        return out;
    }

    bool ReadInto(std::int64_t offset, std::uint8_t* dest, std::size_t size) {
        if (size == 0) return true;
        if (offset < 0 || Remaining(offset) < static_cast<std::int64_t>(size)) return false;
        return source_.Read(offset, dest, size);
    }

private:
    ByteSource& source_;
    std::int64_t size_;
};

bool IdIs(const std::uint8_t* p, const char (&id)[5]) {
    return std::equal(p, p + 4, id, [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); });
}

ParseResult Fail(WaveError error, std::int64_t offset) {
    ParseResult result;
    result.error = error;
    result.offset = offset;
    return result;
}

PcmFormat FormatFrom(const std::array<std::uint8_t, 16>& b) {
    PcmFormat f;
    f.wFormatTag = S16(&b[0]);
    f.nChannels = S16(&b[2]);
    f.nSamplesPerSec = S32(&b[4]);
    f.nAvgBytesPerSec = S32(&b[8]);
    f.nBlockAlign = S16(&b[12]);
    f.wBitsPerSample = S16(&b[14]);
    return f;
}

// The tests every "fmt " chunk must pass, in the order the loader has always made them.
WaveError TestFormat(const PcmFormat& f) {
    if (f.wFormatTag != 1) return WaveError::NotPcm;
    if (f.nChannels != 1 && f.nChannels != 2) return WaveError::BadFormat;
    if (f.nSamplesPerSec < 1) return WaveError::BadFormat;
    if (f.nAvgBytesPerSec < 1) return WaveError::BadFormat;
    if (f.wBitsPerSample != 8 && f.wBitsPerSample != 16) return WaveError::BadFormat;
    // The preview buffer (4 seconds of bytes) and the loop distance (4 seconds of frames) are
    // formed in 32 bits; a rate that overflows them cannot be handled.
    if (std::int64_t{f.nAvgBytesPerSec} * 4 > kInt32Max) return WaveError::BadFormat;
    if (std::int64_t{f.nSamplesPerSec} * 4 > kInt32Max) return WaveError::BadFormat;
    return WaveError::None;
}

class SpanSource final : public ByteSource {
public:
    explicit SpanSource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::int64_t Size() const override { return static_cast<std::int64_t>(bytes_.size()); }
    bool Read(std::int64_t offset, std::uint8_t* dest, std::size_t size) override {
        if (offset < 0 || static_cast<std::uint64_t>(offset) > bytes_.size() ||
            size > bytes_.size() - static_cast<std::size_t>(offset)) {
            return false;
        }
        std::copy_n(bytes_.data() + offset, size, dest);
        return true;
    }

private:
    std::span<const std::uint8_t> bytes_;
};

class FileSource final : public ByteSource {
public:
    explicit FileSource(int fd, std::int64_t size) : fd_(fd), size_(size) {}
    ~FileSource() override { ::close(fd_); }
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    std::int64_t Size() const override { return size_; }
    bool Read(std::int64_t offset, std::uint8_t* dest, std::size_t size) override {
        // pread may return less than asked (signals, large requests); carry on where it stopped.
        while (size > 0) {
            const ssize_t got = ::pread(fd_, dest, size, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return false;  // an error, or the file shrank under us
            const auto n = static_cast<std::size_t>(got);
            dest += n;
            size -= n;
            offset += got;
        }
        return true;
    }

private:
    int fd_;
    std::int64_t size_;
};

}  // namespace

std::vector<std::uint8_t> FormatBlockBytes(const PcmFormat& format) {
    std::vector<std::uint8_t> out;
    out.reserve(kFormatBlockBytes);
    PutU16(out, Bits16(format.wFormatTag));       // 1: uncompressed PCM
    PutU16(out, Bits16(format.nChannels));        // channels
    PutU32(out, Bits32(format.nSamplesPerSec));   // frames per second
    PutU32(out, Bits32(format.nAvgBytesPerSec));  // bytes per second
    PutU16(out, Bits16(format.nBlockAlign));      // bytes per frame
    PutU16(out, Bits16(format.wBitsPerSample));   // bits per sample
    return out;
}

bool IsConsistent(const PcmFormat& format) {
    // Compared without division, so 12-bit stereo (3 bytes) is judged exactly.
    return std::int64_t{format.nBlockAlign} * 8 ==
               std::int64_t{format.nChannels} * format.wBitsPerSample &&
           std::int64_t{format.nAvgBytesPerSec} ==
               std::int64_t{format.nSamplesPerSec} * format.nBlockAlign;
}

std::string_view UserMessage(WaveError error) {
    switch (error) {
        case WaveError::None: return "";
        case WaveError::CannotOpen: return "ファイルを開けませんでした";
        case WaveError::FileTooLarge: return "ファイルが大きすぎます";
        case WaveError::BadRiffHeader: return "不正なRIFFヘッダです";
        case WaveError::BadChunkSize: return "不正なチャンクサイズです";
        case WaveError::NotPcm: return "非圧縮形式以外は未対応です";
        case WaveError::BadFormat: return "不正なフォーマットです";
        case WaveError::NotWave: return "不正なwaveファイルです";
        case WaveError::TooShort: return "ファイルが短すぎます。5秒以上のファイルを選択してください";
        case WaveError::OutOfMemory: return "メモリが不足しています";
    }
    return "";
}

// Offsets reported: 0 for the file header, the chunk's own start for a refused chunk, and the
// place the walk ended for the final tests.
ParseResult ParseWave(ByteSource& source, Payload mode) {
    ByteReader reader(source);
    const std::int64_t fileBytes = reader.Size();
    if (fileBytes >= kMaxFileBytes) return Fail(WaveError::FileTooLarge, 0);

    const auto header = reader.Bytes<12>(0);
    if (!header) {
        if (fileBytes >= 12) return Fail(WaveError::CannotOpen, 0);
        return Fail(WaveError::BadRiffHeader, 0);  // shorter than its own header
    }
    const std::int64_t riffBytes = S32(&(*header)[4]);
    // Plus 8, not minus 8, and signed: the loader has always let a negative size through here,
    // which then leaves no chunk to read.
    if (riffBytes > fileBytes + 8 || !IdIs(&(*header)[0], "RIFF") || !IdIs(&(*header)[8], "WAVE")) {
        return Fail(WaveError::BadRiffHeader, 0);
    }
    const std::int64_t extentEnd = riffBytes + 8;

    PcmFormat format;
    bool haveFormat = false;
    std::vector<std::uint8_t> data;
    std::int64_t dataBytes = 0;
    bool haveData = false;

    std::int64_t offset = 12;
    // Bounded by the RIFF extent only: the file length decides nothing here except that a
    // header the file does not hold in full ends the walk, as if the extent ended there.
    while (offset < extentEnd) {
        const auto chunkHeader = reader.Bytes<8>(offset);
        if (!chunkHeader) {
            if (reader.Remaining(offset) >= 8) return Fail(WaveError::CannotOpen, offset);
            break;
        }
        const std::int64_t chunkBytes = S32(&(*chunkHeader)[4]);
        const std::int64_t payload = offset + 8;
        // Every chunk, known or not, must hold at least one byte; sizes of 2^31 and up read negative.
        if (chunkBytes < 1) return Fail(WaveError::BadChunkSize, offset);
        const bool endsPast32Bits = payload + chunkBytes > kInt32Max;

        if (IdIs(&(*chunkHeader)[0], "fmt ")) {
            if (chunkBytes < 16) return Fail(WaveError::BadChunkSize, offset);
            if (reader.Remaining(payload) < 16) return Fail(WaveError::BadChunkSize, offset);
            const auto block = reader.Bytes<16>(payload);
            if (!block) return Fail(WaveError::CannotOpen, payload);
            format = FormatFrom(*block);
            haveFormat = true;
            // Every "fmt " chunk is tested, including one that a later one would replace, and
            // before its end is: the format block is the chunk's first and most telling part.
            if (const WaveError e = TestFormat(format); e != WaveError::None) return Fail(e, offset);
            if (endsPast32Bits) return Fail(WaveError::BadChunkSize, offset);
        } else if (endsPast32Bits) {
            return Fail(WaveError::BadChunkSize, offset);
        } else if (IdIs(&(*chunkHeader)[0], "data")) {
            // The claimed size must be present before anything is allocated for it.
            if (reader.Remaining(payload) < chunkBytes) return Fail(WaveError::BadChunkSize, offset);
            std::vector<std::uint8_t>().swap(data);  // let go of an earlier payload first
            dataBytes = chunkBytes;
            haveData = true;
            // A walk for the headers only stops here: the size is known to be present.
            if (mode == Payload::Read) {
                try {
                    data.reserve(static_cast<std::size_t>(chunkBytes));
                    PreferHugePages(data.data(), data.capacity());
                    data.resize(static_cast<std::size_t>(chunkBytes));
                } catch (const std::bad_alloc&) {
                    return Fail(WaveError::OutOfMemory, offset);
                }
                if (!reader.ReadInto(payload, data.data(), data.size())) {
                    return Fail(WaveError::CannotOpen, payload);
                }
            }
        }
        // Chunks are packed end to end: no pad byte is skipped after an odd size, as before.
        offset = payload + chunkBytes;
    }

    if (!haveFormat || !haveData) return Fail(WaveError::NotWave, offset);
    // Under 5 seconds: bytes / nAvgBytesPerSec < 5, compared exactly in integers.
    if (dataBytes < std::int64_t{format.nAvgBytesPerSec} * 5) {
        return Fail(WaveError::TooShort, offset);
    }

    ParseResult result;
    result.offset = offset;
    result.wave.format = format;
    result.wave.data = std::move(data);
    result.wave.dataBytes = dataBytes;
    return result;
}

ParseResult ParseWave(std::span<const std::uint8_t> bytes, Payload mode) {
    SpanSource source(bytes);
    return ParseWave(source, mode);
}

ParseResult ReadWaveFile(const std::string& path, Payload mode) {
    // Non-blocking only so that a FIFO given by mistake cannot hang the open; it is refused below.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return Fail(WaveError::CannotOpen, 0);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return Fail(WaveError::CannotOpen, 0);
    }
    FileSource source(fd, static_cast<std::int64_t>(st.st_size));
    return ParseWave(source, mode);
}

// ---- Derived numbers ---------------------------------------------------------------------

std::int64_t HalfWindowFrames(const PcmFormat& format) {
    return std::int64_t{format.nSamplesPerSec} * 4 / 2;
}

// Bytes per frame come from wBitsPerSample and nChannels (not nBlockAlign), divided as reals.
// When they give no positive size (a format the reader refuses) the sound has no frames: -1.
std::int32_t LastFrameOf(const PcmFormat& format, std::int64_t dataBytes) {
    const double frameBytes = format.wBitsPerSample / 8.0 * format.nChannels;
    if (frameBytes <= 0.0) return -1;
    const double last = std::nearbyint(static_cast<double>(dataBytes) / frameBytes - 1.0);
    if (last > static_cast<double>(kInt32Max)) return static_cast<std::int32_t>(kInt32Max);
    if (last < -static_cast<double>(kInt32Max) - 1.0) return static_cast<std::int32_t>(-kInt32Max - 1);
    return static_cast<std::int32_t>(last);
}

std::vector<std::string> InformationLines(const std::string& path, const PcmFormat& format,
                                          std::int64_t dataBytes) {
    // Seconds to two decimals; with no bytes per second (never for a loaded sound) it reads 0.00.
    double seconds = 0.0;
    if (format.nAvgBytesPerSec > 0) seconds = static_cast<double>(dataBytes) / format.nAvgBytesPerSec;
    char playing[64];
    std::snprintf(playing, sizeof playing, "%.2f", seconds);

    std::string channels = std::to_string(format.nChannels);
    if (format.nChannels == 1) channels = "モノラル";
    if (format.nChannels == 2) channels = "ステレオ";

    // Captions padded with blanks to 24 columns (a full-width character counts two).
    return {
        "ファイル名              ： " + path,
        "サンプリングレート      ： " + std::to_string(format.nSamplesPerSec) + "Hz",
        "サンプリングビット数    ： " + std::to_string(format.wBitsPerSample) + "bit",
        "ステレオ,モノラル       ： " + channels,
        "1秒あたりのデータサイズ ： " + std::to_string(format.nAvgBytesPerSec) + "byte",
        "データサイズ            ： " + std::to_string(dataBytes),
        "再生時間                ： " + std::string(playing) + "秒",
    };
}

std::string JoinLines(const std::vector<std::string>& lines, std::string_view separator) {
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) out += separator;
        out += lines[i];
    }
    return out;
}

// ---- The seam preview --------------------------------------------------------------------

std::string FillPreview(const PcmFormat& format, std::span<const std::uint8_t> sound,
                        std::int32_t loopStart, std::int32_t loopEnd,
                        std::span<std::uint8_t> preview) {
    // With an inconsistent block the halves' bytes and frames disagree and could leave the sound.
    if (!IsConsistent(format) || format.nBlockAlign < 1) {
        return "プレビューできません：フォーマットが不整合です";
    }
    const std::int64_t previewBytes = std::int64_t{format.nAvgBytesPerSec} * 4;
    if (previewBytes > kInt32Max || static_cast<std::int64_t>(preview.size()) != previewBytes) {
        return "プレビューできません：バッファの大きさが違います";
    }
    const std::int64_t half = previewBytes / 2;
    const std::int64_t blockAlign = format.nBlockAlign;
    const std::int64_t firstFrom = (std::int64_t{loopEnd} - HalfWindowFrames(format)) * blockAlign;
    const std::int64_t secondFrom = std::int64_t{loopStart} * blockAlign;
    const auto soundBytes = static_cast<std::int64_t>(sound.size());
    const auto inside = [&](std::int64_t from) { return from >= 0 && from <= soundBytes - half; };
    if (!inside(firstFrom) || !inside(secondFrom)) return "プレビューできません：ループ範囲が不正です";

    const auto h = static_cast<std::size_t>(half);
    std::copy_n(sound.begin() + static_cast<std::ptrdiff_t>(firstFrom), h, preview.begin());
    std::copy_n(sound.begin() + static_cast<std::ptrdiff_t>(secondFrom), h,
                preview.begin() + static_cast<std::ptrdiff_t>(h));
    return "";
}

}  // namespace wavemisc
