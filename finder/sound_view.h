// SPDX-License-Identifier: GPL-3.0-or-later
// The loaded bytes as the finder reads them: frames of samples scaled to -1 .. 1, and the mono
// mix-down its analysis starts from. Positions and lengths are in frames of the sound unless a
// name says otherwise. Standard library only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "finder/finder_options.h"
#include "wave/pcm_format.h"

namespace finder {

// Only for a consistent format block, so a frame is nChannels samples of wBitsPerSample bits.
struct SoundView {
    std::span<const std::uint8_t> bytes;
    int channels = 1;
    int bytesPerSample = 2;
    std::int32_t rate = 1;
    std::int64_t frames = 0;  // whole frames in `bytes`

    float Sample(std::int64_t frame, int channel) const {
        const std::size_t at = static_cast<std::size_t>(frame * channels + channel) *
                               static_cast<std::size_t>(bytesPerSample);
        if (bytesPerSample == 1) return (static_cast<float>(bytes[at]) - 128.0F) / 128.0F;
        const auto value = static_cast<std::int16_t>(bytes[at] | bytes[at + 1] << 8);
        return static_cast<float>(value) / 32768.0F;
    }
    // The energy of the format's own rounding noise per sample: one step squared over 12.
    double RoundingNoise() const {
        const double step = bytesPerSample == 1 ? 1.0 / 128.0 : 1.0 / 32768.0;
        return step * step / 12.0;
    }
    // Frames from seconds at the sound's rate, at least `least`.
    std::int64_t FramesOf(double seconds, std::int64_t least = 1) const;
};

// Frames from seconds at `rate`: the nearest whole number, at least `least`.
std::int64_t FramesAt(std::int32_t rate, double seconds, std::int64_t least);

// Nothing for a format block whose sizes disagree or a sound without a frame.
std::optional<SoundView> ViewOf(const wave::PcmFormat& format, std::span<const std::uint8_t> sound);

// The whole factor by which the features, and the correlation over a wide range, decimate.
int DecimationOf(const SoundView& view, const FinderOptions& options);

// out[j] = mean of all channels of frames first + j*factor .. first + j*factor + factor - 1;
// frames outside the sound count as silence.
void MixDown(const SoundView& view, std::int64_t first, int factor, std::span<float> out);

}  // namespace finder
