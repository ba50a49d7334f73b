// SPDX-License-Identifier: GPL-3.0-or-later
// The wave layer as the tests meet it: a format block of a width, a channel count and a rate,
// the tests' own format record turned into one, and the looped file rendered into memory.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

#include "tests/support/wave_bytes.h"
#include "wave/looped_wave.h"
#include "wave/pcm_format.h"

namespace testwave {

// Consistent uncompressed PCM.
inline wave::PcmFormat PcmFormatOf(std::int16_t bits, std::int16_t channels, std::int32_t rate) {
    const auto align = static_cast<std::int16_t>(bits / 8 * channels);
    return {1, channels, rate, rate * align, align, bits};
}

// The 16 bytes of `f` as the reader would read them, consistent or not.
inline wave::PcmFormat PcmFormatOf(const Format& f) {
    wave::PcmFormat p;
    p.wFormatTag = static_cast<std::int16_t>(f.tag);
    p.nChannels = static_cast<std::int16_t>(f.channels);
    p.nSamplesPerSec = static_cast<std::int32_t>(f.rate);
    p.nAvgBytesPerSec = static_cast<std::int32_t>(f.avgBytes);
    p.nBlockAlign = static_cast<std::int16_t>(f.blockAlign);
    p.wBitsPerSample = static_cast<std::int16_t>(f.bits);
    return p;
}

// Keeps what is written; write number `failAt` (from 0) fails when set.
class MemorySink final : public wave::ByteSink {
public:
    Bytes bytes;
    int writes = 0;
    int failAt = -1;
    bool Write(std::span<const std::uint8_t> part) override {
        if (writes++ == failAt) return false;
        bytes.insert(bytes.end(), part.begin(), part.end());
        return true;
    }
};

// The looped file's bytes; a refusal throws, so the test that expected bytes fails with it.
inline Bytes RenderToMemory(const wave::PcmFormat& format, std::span<const std::uint8_t> sound,
                            const wave::LoopRequest& request) {
    MemorySink sink;
    const std::string message = wave::RenderLoopedWave(format, sound, request, sink);
    if (!message.empty()) throw std::runtime_error("render refused: " + message);
    return sink.bytes;
}

}  // namespace testwave
