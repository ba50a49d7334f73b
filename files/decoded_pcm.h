// SPDX-License-Identifier: GPL-3.0-or-later
// What every decoder of a compressed or other non-wave file shares: the limits it decodes within,
// the 8- or 16-bit block the wave layer takes for the sound, the shape checks the wave reader
// makes, and the samples gathered block by block as the wave layer keeps them. POSIX; no Qt,
// SDL or FFTW.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "files/sound_file.h"
#include "wave/riff_reader.h"
#include "wave/rounding.h"

namespace files {

// One decode's work: the bytes, the name its messages give the file, and how much it reads.
struct DecodeJob {
    wave::ByteSource& source;
    std::string_view path;
    wave::Payload payload = wave::Payload::Read;
    DecodeLimits limits;
};

// The 8- or 16-bit block the wave layer takes for a decoded sound.
wave::PcmFormat ProxyFormat(int channels, int rate, Depth depth);

// "" or the refusal of a sound of this format and length: more than two channels, a rate whose
// fields would overflow, more bytes than the limit; with the limits' shape checks, also a rate
// whose four seconds do not fit and a sound under five seconds.
std::string RefuseShape(const wave::PcmFormat& format, std::int64_t frames,
                        const DecodeLimits& limits);

// The decoded samples, appended to `sound` (its format and depth set) as the wave layer keeps
// them: 8-bit unsigned or 16-bit little-endian, and a 24-bit source's samples beside them.
class DecodedPcm {
public:
    DecodedPcm(Sound& sound, std::int64_t mostDataBytes);

    // Room for `frames` frames, where the headers give a length within the limit: the samples
    // then take their own size in memory, not up to twice it as a growing buffer would.
    void Expect(std::int64_t frames);
    // Interleaved 16-bit samples (an 8-bit source's in their high byte). False, with Error(),
    // when they would pass the limit or find no memory.
    bool Add16(std::span<const std::int16_t> samples);
    // A 24-bit source's interleaved samples, the 24 bits in the high bytes.
    bool Add24(std::span<const std::int32_t> samples);

    std::int64_t Frames() const;
    // "" or the message of the Add that failed.
    const std::string& Error() const { return error_; }
    // The end of a decode that should have given `statedFrames`: "" with the sound's size set,
    // or the refusal: fewer frames stop early (the file ends, or the decoder gave up), more
    // contradict the length the file states.
    std::string Finish(std::string_view path, std::int64_t statedFrames);
    // The end of a decode that nothing states the length of.
    void Finish();

private:
    bool Room(std::size_t samples);

    Sound& sound_;
    std::int64_t mostDataBytes_;
    std::size_t sampleBytes_;
    std::string error_;
    std::vector<std::int16_t> high_;  // a 24-bit block's high 16 bits, reused
};

}  // namespace files
