// The wave-data core: reading and validating a RIFF/WAVE file, building the looped file,
// filling the seam preview, and the few derived numbers the window and the command line share.
// Bytes in, values out. Standard library only: no Qt, no SDL, no module state, no device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace wavemisc {

// The 16-byte PCM format block, kept exactly as the file gives it. Every field is read signed,
// because that is how the loader has always compared them.
struct PcmFormat {
    std::int16_t wFormatTag = 0;
    std::int16_t nChannels = 0;
    std::int32_t nSamplesPerSec = 0;
    std::int32_t nAvgBytesPerSec = 0;
    std::int16_t nBlockAlign = 0;
    std::int16_t wBitsPerSample = 0;

    friend bool operator==(const PcmFormat&, const PcmFormat&) = default;
};

inline constexpr std::size_t kFormatBlockBytes = 16;
inline constexpr std::size_t kHeaderBytes = 44;
inline constexpr std::int64_t kInt32Max = 2147483647;

// The 16 bytes as they stand in a file (little-endian).
std::vector<std::uint8_t> FormatBlockBytes(const PcmFormat& format);

// nBlockAlign = nChannels * wBitsPerSample / 8 and nAvgBytesPerSec = nSamplesPerSec * nBlockAlign.
bool IsConsistent(const PcmFormat& format);

// ---- Reading -----------------------------------------------------------------------------

enum class WaveError {
    None,
    CannotOpen,     // missing, a folder, no permission, a read error
    FileTooLarge,   // 2^31 - 8 bytes or more: offsets would leave 32 bits
    BadRiffHeader,
    BadChunkSize,
    NotPcm,
    BadFormat,
    NotWave,        // no "fmt " or no "data" chunk
    TooShort,       // under 5 seconds
    OutOfMemory,
};

// The only place the reader's user texts live.
std::string_view UserMessage(WaveError error);

struct ParsedWave {
    PcmFormat format;
    std::vector<std::uint8_t> data;  // the last "data" payload, byte for byte
    std::int64_t dataBytes = 0;      // its size; also set when the payload was not read
};

// Whether a walk reads the payload or only its size. Both give the same answer and offset for
// every file; only a failed read of the payload, or no memory for it, needs the payload read.
enum class Payload { Read, SizeOnly };

struct ParseResult {
    WaveError error = WaveError::None;
    std::int64_t offset = 0;  // where the walk stood when it refused
    ParsedWave wave;
};

// Random access to the bytes of one file or buffer. Read() fills exactly `size` bytes at `offset`
// or returns false; callers never ask for bytes beyond Size().
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::int64_t Size() const = 0;
    virtual bool Read(std::int64_t offset, std::uint8_t* dest, std::size_t size) = 0;
};

// Walks the chunks and tests the format; on success `wave` holds the format block and the payload.
ParseResult ParseWave(ByteSource& source, Payload payload = Payload::Read);
ParseResult ParseWave(std::span<const std::uint8_t> bytes, Payload payload = Payload::Read);
// Opens the file, then ParseWave; the payload is read with one read straight into `wave.data`.
ParseResult ReadWaveFile(const std::string& path, Payload payload = Payload::Read);

// ---- Derived numbers ---------------------------------------------------------------------

// Two seconds of frames: nSamplesPerSec * 4 / 2, exact for every accepted format.
std::int64_t HalfWindowFrames(const PcmFormat& format);

// DataSize / (wBitsPerSample / 8 * nChannels) - 1, rounded half to even, clamped to 32 bits.
// -1 when bits or channels give no positive frame size (never for a format the reader accepts).
std::int32_t LastFrameOf(const PcmFormat& format, std::int64_t dataBytes);

// The seven lines of the file information, without line ends.
std::vector<std::string> InformationLines(const std::string& path, const PcmFormat& format,
                                          std::int64_t dataBytes);
std::string JoinLines(const std::vector<std::string>& lines, std::string_view separator);

// ---- Writing the looped file -------------------------------------------------------------

struct LoopRequest {
    std::int32_t loopStart = 0;  // first frame of the loop
    std::int32_t loopEnd = 0;    // first frame after the loop
    std::int32_t repeatCount = 0;
    std::int32_t fadeSeconds = 0;
    bool samplerLoop = false;    // end the file with a "smpl" chunk marking the first loop pass
};

// Sizes of the output, all checked against the signed 32-bit limits of the header.
struct LoopedLayout {
    std::int64_t introBytes = 0;
    std::int64_t loopBytes = 0;   // one pass
    std::int64_t tailFrames = 0;  // M
    std::int64_t tailBytes = 0;   // T
    std::int64_t dataBytes = 0;   // D
    std::int64_t trailerBytes = 0;  // after the samples, counted by the RIFF size
};

// Every save failure message begins with this.
inline constexpr std::string_view kSaveFailed = "保存に失敗しました";

// kSaveFailed, "：" and the reason.
std::string SaveFailed(std::string_view reason);
// The same for a system error code: the user's own words for the common ones (no space, no
// rights, no folder, too large, name too long), the system's text for the rest.
std::string SaveFailedErrno(int error);

// "" when a save to `path` may be tried, or the message the save would end with at once: the
// destination is not a regular file, may not be written, or its folder is missing or locked.
// Nothing is created. A symbolic link is followed to the file it names.
std::string CheckSaveDestination(const std::string& path);

// "" and the layout, or a message beginning with kSaveFailed (inconsistent format, a loop outside
// the sound, negative counts, sizes over the limits). Nothing is touched.
std::string PlanLoopedWave(const PcmFormat& format, std::span<const std::uint8_t> sound,
                           const LoopRequest& request, LoopedLayout& layout);
// The same from the sound's size alone, before its bytes are read.
std::string PlanLoopedWave(const PcmFormat& format, std::int64_t soundBytes,
                           const LoopRequest& request, LoopedLayout& layout);

// The 44-byte header for `dataBytes` bytes of samples and `trailerBytes` after them.
std::vector<std::uint8_t> WaveHeader(const PcmFormat& format, std::int64_t dataBytes,
                                     std::int64_t trailerBytes = 0);

// The tail buffer: the loop repeated from its start for `layout.tailFrames` frames, then faded.
std::vector<std::uint8_t> BuildTail(const PcmFormat& format, std::span<const std::uint8_t> sound,
                                    const LoopRequest& request, const LoopedLayout& layout);

// Fades `tail` in place: unit i of n gets the float nearest to b^(i/n), product rounded half to
// even. 8-bit: each stored byte, b = 0.01. Otherwise: each signed 16-bit sample, b = 0.0001.
void ApplyFade(std::span<std::uint8_t> tail, std::int16_t bitsPerSample);

// Where the rendered bytes go. Write returns false on failure, with a reason for the user.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual bool Write(std::span<const std::uint8_t> bytes) = 0;
    // After a failed Write: the message for the user, beginning with kSaveFailed.
    virtual std::string FailureReason() const;
};

// Header, intro, loop passes from one buffer, tail. "" or a message beginning with kSaveFailed.
std::string RenderLoopedWave(const PcmFormat& format, std::span<const std::uint8_t> sound,
                             const LoopRequest& request, ByteSink& sink);

// RenderLoopedWave into an unnamed file in the destination's folder, fsync, name it and rename it
// over `path` (over the file a symbolic link there names). On any failure, and when the process
// is ended by SIGINT, SIGTERM or SIGHUP meanwhile, the destination is as it was and nothing is
// left; a destination that is not a regular file, or that the user may not write, is refused.
std::string WriteLoopedWaveFile(const std::string& path, const PcmFormat& format,
                                std::span<const std::uint8_t> sound, const LoopRequest& request);

// Writes `bytes` to `path` the same safe way (used for the preview file of the command line).
std::string WriteFileAtomically(const std::string& path,
                                std::span<const std::span<const std::uint8_t>> parts);

// ---- The seam preview --------------------------------------------------------------------

// The 2 seconds before loopEnd, then the 2 seconds from loopStart, into `preview`, which must
// hold 4 * nAvgBytesPerSec bytes. "" or a message; on a message `preview` is left as it was.
std::string FillPreview(const PcmFormat& format, std::span<const std::uint8_t> sound,
                        std::int32_t loopStart, std::int32_t loopEnd,
                        std::span<std::uint8_t> preview);

}  // namespace wavemisc
