// SPDX-License-Identifier: GPL-3.0-or-later
#include "fuzz/fuzz_checks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "tests/support/reference_fade.h"
#include "tests/support/wave_bytes.h"
#include "wave/loop_rules.h"
#include "wave/looped_wave.h"
#include "wave/pcm_format.h"
#include "wave/riff_reader.h"
#include "wave/rounding.h"
#include "wave/seam_preview.h"
#include "wave/user_texts.h"
#include "wave/wave_reader.h"

namespace wavefuzz {

namespace {

using testwave::PutId;
using testwave::PutU16;
using testwave::PutU32;
using wave::PcmFormat;

// Kept small so one execution stays well under a millisecond.
constexpr std::int64_t kMaxRenderBytes = 16 * 1024;
constexpr std::size_t kMaxReaderSoundBytes = 16 * 1024;
constexpr std::int64_t kInt32Max = wave::kInt32Max;

[[noreturn]] void Broken(const char* what, std::int64_t detail = -1) {
    std::fprintf(stderr, "fuzz check failed: %s (%lld)\n", what, static_cast<long long>(detail));
    std::abort();
}

void Require(bool ok, const char* what, std::int64_t detail = -1) {
    if (!ok) Broken(what, detail);
}

bool StartsWith(const std::string& text, std::string_view prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The first offset where two byte strings differ, or -1.
std::int64_t FirstDifference(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
    const std::size_t common = std::min(a.size(), b.size());
    const auto mismatch =
        std::mismatch(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(common), b.begin());
    const auto at = static_cast<std::int64_t>(mismatch.first - a.begin());
    if (at < static_cast<std::int64_t>(common)) return at;
    return a.size() == b.size() ? -1 : static_cast<std::int64_t>(common);
}

bool Contains(std::span<const std::uint8_t> haystack, std::span<const std::uint8_t> needle) {
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
           haystack.end();
}

// Hands out the file's bytes and aborts on any read outside them, as a file would fail there.
class CheckedSource final : public wave::ByteSource {
public:
    CheckedSource(std::span<const std::uint8_t> bytes, int failingRead)
        : bytes_(bytes), failingRead_(failingRead) {}
    std::int64_t Size() const override { return static_cast<std::int64_t>(bytes_.size()); }
    bool Read(std::int64_t offset, std::uint8_t* dest, std::size_t size) override {
        Require(offset >= 0 && offset <= Size() &&
                    size <= bytes_.size() - static_cast<std::size_t>(offset),
                "read outside the file", offset);
        if (reads_++ == failingRead_) {
            failed_ = true;
            return false;
        }
        std::copy_n(bytes_.data() + offset, size, dest);
        return true;
    }
    bool Failed() const { return failed_; }

private:
    std::span<const std::uint8_t> bytes_;
    int failingRead_;
    int reads_ = 0;
    bool failed_ = false;
};

class MemorySink final : public wave::ByteSink {
public:
    explicit MemorySink(int failingWrite) : failingWrite_(failingWrite) {}
    bool Write(std::span<const std::uint8_t> bytes) override {
        if (writes_++ == failingWrite_) {
            failed_ = true;
            return false;
        }
        out.insert(out.end(), bytes.begin(), bytes.end());
        return true;
    }
    bool Failed() const { return failed_; }
    std::vector<std::uint8_t> out;

private:
    int failingWrite_;
    int writes_ = 0;
    bool failed_ = false;
};

// Reads the writer's input field by field; bytes past the end read as zero.
class Cursor {
public:
    explicit Cursor(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint8_t U8() { return pos_ < bytes_.size() ? bytes_[pos_++] : std::uint8_t{0}; }
    std::uint16_t U16() { return static_cast<std::uint16_t>(U8() | U8() << 8); }
    std::uint32_t U32() {
        const std::uint32_t low = U16();
        return low | std::uint32_t{U16()} << 16;
    }
    std::int32_t I32() { return static_cast<std::int32_t>(U32()); }
    std::span<const std::uint8_t> Rest() const {
        return pos_ < bytes_.size() ? bytes_.subspan(pos_) : std::span<const std::uint8_t>();
    }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

// ---- An independent model of the looped file, written from the rules, not from the code ----

struct Plan {
    bool valid = false;
    std::int64_t introBytes = 0, loopBytes = 0, tailFrames = 0, tailBytes = 0, dataBytes = 0;
};

bool Consistent(const PcmFormat& f) {
    return std::int64_t{f.nBlockAlign} * 8 == std::int64_t{f.nChannels} * f.wBitsPerSample &&
           std::int64_t{f.nAvgBytesPerSec} == std::int64_t{f.nSamplesPerSec} * f.nBlockAlign;
}

// A format the reader accepts, so a save of it must not be refused for its format.
bool Loadable(const PcmFormat& f) {
    return f.wFormatTag == 1 && (f.nChannels == 1 || f.nChannels == 2) && f.nSamplesPerSec >= 1 &&
           f.nAvgBytesPerSec >= 1 && (f.wBitsPerSample == 8 || f.wBitsPerSample == 16) &&
           std::int64_t{f.nAvgBytesPerSec} * 4 <= kInt32Max &&
           std::int64_t{f.nSamplesPerSec} * 4 <= kInt32Max;
}

Plan ModelPlan(const PcmFormat& f, std::int64_t soundBytes, const wave::LoopRequest& r) {
    Plan p;
    const std::int64_t ba = f.nBlockAlign;
    if (!Consistent(f) || ba < 1) return p;
    if (r.loopStart < 0 || r.loopStart >= r.loopEnd || std::int64_t{r.loopEnd} * ba > soundBytes)
        return p;
    if (r.repeatCount < 0 || r.fadeSeconds < 0) return p;
    const std::int64_t loopFrames = std::int64_t{r.loopEnd} - r.loopStart;
    const std::int64_t passes = loopFrames * r.repeatCount;
    const std::int64_t beforeTail = r.loopStart + passes;
    const std::int64_t tailFrames = std::int64_t{r.fadeSeconds} * f.nSamplesPerSec;
    const std::int64_t frames = beforeTail + tailFrames;
    const std::int64_t dataBytes = ba * frames;
    for (const std::int64_t v :
         {passes, beforeTail, tailFrames, frames, dataBytes, dataBytes + 36}) {
        if (v > kInt32Max) return p;
    }
    p.valid = true;
    p.introBytes = std::int64_t{r.loopStart} * ba;
    p.loopBytes = loopFrames * ba;
    p.tailFrames = tailFrames;
    p.tailBytes = std::int64_t{r.fadeSeconds} * f.nAvgBytesPerSec;
    p.dataBytes = dataBytes;
    return p;
}

std::vector<std::uint8_t> ModelFile(const PcmFormat& f, std::span<const std::uint8_t> sound,
                                    const wave::LoopRequest& r, const Plan& p) {
    std::vector<std::uint8_t> out;
    const auto d = static_cast<std::uint32_t>(p.dataBytes);
    PutId(out, "RIFF");
    PutU32(out, d + 36);
    PutId(out, "WAVE");
    PutId(out, "fmt ");
    PutU32(out, 16);
    PutU16(out, static_cast<std::uint16_t>(f.wFormatTag));
    PutU16(out, static_cast<std::uint16_t>(f.nChannels));
    PutU32(out, static_cast<std::uint32_t>(f.nSamplesPerSec));
    PutU32(out, static_cast<std::uint32_t>(f.nAvgBytesPerSec));
    PutU16(out, static_cast<std::uint16_t>(f.nBlockAlign));
    PutU16(out, static_cast<std::uint16_t>(f.wBitsPerSample));
    PutId(out, "data");
    PutU32(out, d);
    const auto ba = static_cast<std::size_t>(f.nBlockAlign);
    const auto start = static_cast<std::size_t>(r.loopStart);
    const auto end = static_cast<std::size_t>(r.loopEnd);
    out.insert(out.end(), sound.begin(), sound.begin() + static_cast<std::ptrdiff_t>(start * ba));
    for (std::int32_t pass = 0; pass < r.repeatCount; ++pass) {
        out.insert(out.end(), sound.begin() + static_cast<std::ptrdiff_t>(start * ba),
                   sound.begin() + static_cast<std::ptrdiff_t>(end * ba));
    }
    // Frame by frame, wrapping back to the loop start at the loop end.
    std::vector<std::uint8_t> tail;
    std::size_t frame = start;
    for (std::int64_t k = 0; k < p.tailFrames; ++k) {
        tail.insert(tail.end(), sound.begin() + static_cast<std::ptrdiff_t>(frame * ba),
                    sound.begin() + static_cast<std::ptrdiff_t>((frame + 1) * ba));
        if (++frame == end) frame = start;
    }
    Require(static_cast<std::int64_t>(tail.size()) == p.tailBytes, "model tail size");
    testwave::ReferenceFade(tail, f.wBitsPerSample);
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

void CheckRender(const PcmFormat& format, std::span<const std::uint8_t> sound,
                 const wave::LoopRequest& request, int failingWrite) {
    const Plan model = ModelPlan(format, static_cast<std::int64_t>(sound.size()), request);
    wave::LoopedLayout layout;
    const std::string planned = wave::PlanLoopedWave(format, sound, request, layout);
    if (!planned.empty()) {
        Require(StartsWith(planned, wave::kSaveFailed),
                "plan refusal without the save-failed text");
        Require(!(model.valid && Loadable(format)), "a valid save was refused");
    } else {
        Require(model.valid, "an invalid save was accepted");
        Require(layout.introBytes == model.introBytes && layout.loopBytes == model.loopBytes &&
                    layout.tailFrames == model.tailFrames && layout.tailBytes == model.tailBytes &&
                    layout.dataBytes == model.dataBytes,
                "layout differs from the rules", layout.dataBytes);
        if (model.dataBytes > kMaxRenderBytes) return;  // right, but too slow to render here
    }

    MemorySink sink(failingWrite);
    const std::string rendered = wave::RenderLoopedWave(format, sound, request, sink);
    if (!planned.empty()) {
        Require(rendered == planned, "render and plan disagree on a refusal");
        Require(sink.out.empty(), "bytes written before the size tests");
        return;
    }
    if (sink.Failed()) {
        Require(StartsWith(rendered, wave::kSaveFailed), "a failed write reported as success");
        return;
    }
    Require(rendered.empty(), "render refused what plan accepted");
    Require(static_cast<std::int64_t>(sink.out.size()) == 44 + model.dataBytes,
            "output is not 44 + D bytes", static_cast<std::int64_t>(sink.out.size()));
    const std::vector<std::uint8_t> expected = ModelFile(format, sound, request, model);
    const std::int64_t at = FirstDifference(sink.out, expected);
    Require(at < 0, "output differs from the rules at offset", at);
}

void CheckPreview(const PcmFormat& format, std::span<const std::uint8_t> sound,
                  std::int32_t loopStart, std::int32_t loopEnd) {
    const std::int64_t previewBytes = std::int64_t{format.nAvgBytesPerSec} * 4;
    // A block too large to allocate here is offered a wrong-sized buffer, which must be refused.
    const bool fits = previewBytes >= 0 && previewBytes <= kMaxRenderBytes;
    const std::size_t size = fits ? static_cast<std::size_t>(previewBytes) : 16;
    const auto preview = std::make_unique<std::uint8_t[]>(size);
    std::fill_n(preview.get(), size, std::uint8_t{0xA5});
    const std::span<std::uint8_t> out(preview.get(), size);
    const std::string message = wave::FillPreview(format, sound, loopStart, loopEnd, out);
    if (!message.empty()) {
        Require(std::all_of(out.begin(), out.end(), [](std::uint8_t b) { return b == 0xA5; }),
                "refused preview fill changed the buffer");
        return;
    }
    Require(fits && Consistent(format) && format.nBlockAlign >= 1,
            "preview filled for a bad format");
    const std::int64_t ba = format.nBlockAlign;
    const std::int64_t half = previewBytes / 2;
    const std::int64_t first =
        (std::int64_t{loopEnd} - std::int64_t{format.nSamplesPerSec} * 2) * ba;
    const std::int64_t second = std::int64_t{loopStart} * ba;
    const auto soundBytes = static_cast<std::int64_t>(sound.size());
    Require(first >= 0 && first + half <= soundBytes && second >= 0 && second + half <= soundBytes,
            "preview filled from outside the sound");
    const auto h = static_cast<std::size_t>(half);
    Require(FirstDifference(out.first(h), sound.subspan(static_cast<std::size_t>(first), h)) < 0,
            "preview first half is not the 2 s before the loop end");
    Require(FirstDifference(out.subspan(h), sound.subspan(static_cast<std::size_t>(second), h)) < 0,
            "preview second half is not the 2 s from the loop start");
}

// The 16-byte format block, read field by field off the input.
PcmFormat ReadFormat(Cursor& c) {
    PcmFormat f;
    f.wFormatTag = static_cast<std::int16_t>(c.U16());
    f.nChannels = static_cast<std::int16_t>(c.U16());
    f.nSamplesPerSec = c.I32();
    f.nAvgBytesPerSec = c.I32();
    f.nBlockAlign = static_cast<std::int16_t>(c.U16());
    f.wBitsPerSample = static_cast<std::int16_t>(c.U16());
    return f;
}

// -1 .. frames, so the edges and one step past each are common.
std::int32_t Fold(std::int32_t raw, std::int64_t frames) {
    return static_cast<std::int32_t>(
        static_cast<std::int64_t>(static_cast<std::uint32_t>(raw) %
                                  static_cast<std::uint64_t>(frames + 2)) -
        1);
}

}  // namespace

void CheckReader(std::span<const std::uint8_t> bytes) {
    const wave::ParseResult result = wave::ParseWave(bytes);

    // The same walk through a source that aborts on any read outside the file.
    CheckedSource checked(bytes, -1);
    const wave::ParseResult again = wave::ParseWave(checked);
    Require(again.error == result.error && again.offset == result.offset &&
                again.wave.format == result.wave.format && again.wave.data == result.wave.data,
            "span and source walks disagree");
    // The walk for the headers alone, as the command line's info uses, must answer the same.
    const wave::ParseResult headers = wave::ParseWave(bytes, wave::Payload::SizeOnly);
    Require(headers.error == result.error && headers.offset == result.offset &&
                headers.wave.format == result.wave.format &&
                headers.wave.dataBytes == result.wave.dataBytes && headers.wave.data.empty(),
            "the header walk and the full walk disagree");

    // A read that fails part-way must never end in an accepted file. The failing read is chosen
    // from the input, so the fuzzer reaches each one.
    const int failingRead = bytes.empty() ? 0 : bytes.back() % 8;
    CheckedSource failing(bytes, failingRead);
    const wave::ParseResult broken = wave::ParseWave(failing);
    Require(!failing.Failed() || broken.error != wave::WaveError::None,
            "a failed read was accepted");

    if (result.error != wave::WaveError::None) {
        Require(!wave::UserMessage(result.error).empty(), "a refusal without a message");
        Require(result.offset >= 0 && result.offset <= kInt32Max, "refusal offset out of range",
                result.offset);
        return;
    }
    const PcmFormat& f = result.wave.format;
    const auto& data = result.wave.data;
    Require(Loadable(f), "accepted a format the tests refuse");
    Require(static_cast<std::int64_t>(data.size()) >= std::int64_t{f.nAvgBytesPerSec} * 5,
            "accepted a sound under 5 seconds");
    Require(bytes.size() >= 44 && data.size() <= bytes.size() - 44,
            "payload larger than the file could hold");
    Require(Contains(bytes, wave::FormatBlockBytes(f)), "format block not taken from the file");
    if (data.size() <= kMaxReaderSoundBytes) {
        Require(Contains(bytes, data), "payload not taken from the file");
        // An accepted sound is what the writer and the preview fill are given: the whole-sound
        // loop that every load sets, saved once with a one-second fade.
        const std::int32_t lastFrame = wave::LastFrameOf(f, static_cast<std::int64_t>(data.size()));
        const auto sound = std::make_unique<std::uint8_t[]>(data.size());
        std::copy(data.begin(), data.end(), sound.get());
        const std::span<const std::uint8_t> exact(sound.get(), data.size());
        CheckRender(f, exact, wave::LoopRequest{0, lastFrame, 1, 1}, -1);
        CheckPreview(f, exact, 0, lastFrame);
    }
}

void CheckWriter(std::span<const std::uint8_t> bytes) {
    Cursor c(bytes);
    const std::uint8_t flags = c.U8();
    const std::uint8_t rateByte = c.U8();
    PcmFormat format;
    if ((flags & WriterInput::kRawFormat) != 0) {
        format = ReadFormat(c);
    } else {
        const std::int16_t bits = (flags & WriterInput::k16Bit) != 0 ? 16 : 8;
        const std::int16_t channels = (flags & WriterInput::kStereo) != 0 ? 2 : 1;
        format.wFormatTag = 1;
        format.nChannels = channels;
        format.wBitsPerSample = bits;
        format.nBlockAlign = static_cast<std::int16_t>(bits / 8 * channels);
        format.nSamplesPerSec = 1 + rateByte % 24;
        format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
    }
    wave::LoopRequest request;
    request.loopStart = c.I32();
    request.loopEnd = c.I32();
    request.repeatCount = c.I32();
    request.fadeSeconds = c.I32();
    const std::uint8_t failAt = c.U8();
    const int failingWrite = (flags & WriterInput::kFailingSink) != 0 ? failAt % 8 : -1;

    // The sound in a heap block of exactly its size, so the sanitizer sees any read past it.
    const std::span<const std::uint8_t> rest = c.Rest();
    const auto sound = std::make_unique<std::uint8_t[]>(rest.size());
    std::copy(rest.begin(), rest.end(), sound.get());
    const std::span<const std::uint8_t> exact(sound.get(), rest.size());

    if ((flags & WriterInput::kRawLoop) == 0) {
        const std::int64_t frames =
            static_cast<std::int64_t>(rest.size()) / std::max<std::int64_t>(1, format.nBlockAlign);
        request.loopStart = Fold(request.loopStart, frames);
        request.loopEnd = Fold(request.loopEnd, frames);
    }
    if ((flags & WriterInput::kRawCounts) == 0) {
        request.repeatCount =
            static_cast<std::int32_t>(static_cast<std::uint32_t>(request.repeatCount) % 5);
        request.fadeSeconds =
            static_cast<std::int32_t>(static_cast<std::uint32_t>(request.fadeSeconds) % 4);
    }
    CheckRender(format, exact, request, failingWrite);
    CheckPreview(format, exact, request.loopStart, request.loopEnd);
}

std::vector<std::uint8_t> EncodeWriterInput(const WriterInput& input) {
    std::vector<std::uint8_t> out;
    out.push_back(input.flags);
    out.push_back(input.rate);
    if ((input.flags & WriterInput::kRawFormat) != 0) {
        std::vector<std::uint8_t> block = input.format;
        block.resize(16);
        out.insert(out.end(), block.begin(), block.end());
    }
    PutU32(out, static_cast<std::uint32_t>(input.loopStart));
    PutU32(out, static_cast<std::uint32_t>(input.loopEnd));
    PutU32(out, static_cast<std::uint32_t>(input.repeatCount));
    PutU32(out, static_cast<std::uint32_t>(input.fadeSeconds));
    out.push_back(input.failAt);
    out.insert(out.end(), input.sound.begin(), input.sound.end());
    return out;
}

}  // namespace wavefuzz
