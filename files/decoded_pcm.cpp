// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/decoded_pcm.h"

#include <new>

#include "files/huge_pages.h"
#include "wave/seam_preview.h"
#include "wave/user_texts.h"

namespace files {

wave::PcmFormat ProxyFormat(int channels, int rate, Depth depth) {
    wave::PcmFormat f;
    f.wFormatTag = 1;
    f.nChannels = static_cast<std::int16_t>(channels);
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = depth == Depth::Bits8 ? 8 : 16;
    f.nBlockAlign = static_cast<std::int16_t>(channels * f.wBitsPerSample / 8);
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    return f;
}

std::string RefuseShape(const wave::PcmFormat& format, std::int64_t frames,
                        const DecodeLimits& limits) {
    if (format.nChannels != 1 && format.nChannels != 2)
        return wave::TooManyChannels(format.nChannels);
    // Four seconds of frames must fit the 32-bit fields whatever the limits.
    if (format.nSamplesPerSec < 1 || std::int64_t{format.nSamplesPerSec} * 4 > wave::kInt32Max)
        return std::string(wave::UserMessage(wave::WaveError::BadFormat));
    if (limits.shapeChecked && wave::PreviewBytes(format) > wave::kInt32Max)
        return std::string(wave::UserMessage(wave::WaveError::BadFormat));
    // Compared by division: a length from a damaged header may be near 2^63.
    if (frames < 0 || frames > limits.mostDataBytes / format.nBlockAlign)
        return std::string(wave::UserMessage(wave::WaveError::FileTooLarge));
    if (limits.shapeChecked && frames < std::int64_t{format.nSamplesPerSec} * 5)
        return std::string(wave::UserMessage(wave::WaveError::TooShort));
    return "";
}

DecodedPcm::DecodedPcm(Sound& sound, std::int64_t mostDataBytes)
    : sound_(sound),
      mostDataBytes_(mostDataBytes),
      sampleBytes_(sound.depth == Depth::Bits8 ? 1 : 2) {}

void DecodedPcm::Expect(std::int64_t frames) {
    const std::int64_t blockBytes = sound_.wave.format.nBlockAlign;
    if (frames <= 0 || blockBytes <= 0 || frames > mostDataBytes_ / blockBytes) return;
    try {
        sound_.wave.data.reserve(static_cast<std::size_t>(frames * blockBytes));
        // As the wave reader's payload: a decoded hour faulted in 4 KiB at a time costs more
        // than the search of it.
        PreferHugePages(sound_.wave.data.data(), sound_.wave.data.capacity());
        if (sound_.depth == Depth::Bits24)
            sound_.wide.reserve(static_cast<std::size_t>(frames * sound_.wave.format.nChannels));
    } catch (const std::bad_alloc&) {
        // Growing as the samples come may still find room.
    }
}

bool DecodedPcm::Room(std::size_t samples) {
    const auto bytes = static_cast<std::int64_t>(sound_.wave.data.size() + samples * sampleBytes_);
    if (bytes > mostDataBytes_) {
        error_ = wave::UserMessage(wave::WaveError::FileTooLarge);
        return false;
    }
    return true;
}

bool DecodedPcm::Add16(std::span<const std::int16_t> samples) {
    if (!Room(samples.size())) return false;
    std::vector<std::uint8_t>& data = sound_.wave.data;
    try {
        const std::size_t at = data.size();
        data.resize(at + samples.size() * sampleBytes_);
        std::uint8_t* out = data.data() + at;
        if (sampleBytes_ == 1) {
            for (std::size_t k = 0; k < samples.size(); ++k)
                out[k] = static_cast<std::uint8_t>((samples[k] >> 8) + 128);
        } else {
            for (std::size_t k = 0; k < samples.size(); ++k) {
                const auto u = static_cast<std::uint16_t>(samples[k]);
                out[2 * k] = static_cast<std::uint8_t>(u & 0xFFu);
                out[2 * k + 1] = static_cast<std::uint8_t>(u >> 8);
            }
        }
    } catch (const std::bad_alloc&) {
        error_ = wave::UserMessage(wave::WaveError::OutOfMemory);
        return false;
    }
    return true;
}

bool DecodedPcm::Add24(std::span<const std::int32_t> samples) {
    if (!Room(samples.size())) return false;
    try {
        // The finder's 16 bits are the high ones; the render takes all 24.
        high_.resize(samples.size());
        for (std::size_t k = 0; k < samples.size(); ++k)
            high_[k] = static_cast<std::int16_t>(samples[k] >> 16);
        sound_.wide.insert(sound_.wide.end(), samples.begin(), samples.end());
    } catch (const std::bad_alloc&) {
        error_ = wave::UserMessage(wave::WaveError::OutOfMemory);
        return false;
    }
    return Add16(high_);
}

std::int64_t DecodedPcm::Frames() const {
    const std::int64_t blockBytes = sound_.wave.format.nBlockAlign;
    return blockBytes > 0 ? static_cast<std::int64_t>(sound_.wave.data.size()) / blockBytes : 0;
}

std::string DecodedPcm::Finish(std::string_view path, std::int64_t statedFrames) {
    const std::int64_t frames = Frames();
    if (frames < statedFrames) return wave::DecodeStopped(path, frames);
    if (frames > statedFrames) return wave::LengthDisagrees(path, frames, statedFrames);
    Finish();
    return "";
}

void DecodedPcm::Finish() {
    sound_.wave.dataBytes = static_cast<std::int64_t>(sound_.wave.data.size());
}

}  // namespace files
