// SPDX-License-Identifier: GPL-3.0-or-later
#include "finder/sound_view.h"

#include <algorithm>
#include <cmath>

namespace finder {

namespace {

// No sound has this many frames; seconds of any size stay well inside 64 bits.
constexpr double kMostFrames = 1e12;
// Above this the analysis would decimate away more than it keeps; no real rate comes near it.
constexpr double kMostDecimation = 64.0;

}  // namespace

std::int64_t FramesAt(std::int32_t rate, double seconds, std::int64_t least) {
    const double frames = std::clamp(std::round(seconds * rate), 0.0, kMostFrames);
    return std::max(least, static_cast<std::int64_t>(frames));
}

std::int64_t SoundView::FramesOf(double seconds, std::int64_t least) const {
    return FramesAt(rate, seconds, least);
}

std::optional<SoundView> ViewOf(const wave::PcmFormat& format,
                                std::span<const std::uint8_t> sound) {
    if (!wave::IsConsistent(format) || format.nBlockAlign < 1 || format.nSamplesPerSec < 1)
        return std::nullopt;
    if (format.wBitsPerSample != 8 && format.wBitsPerSample != 16) return std::nullopt;
    if (format.nChannels != 1 && format.nChannels != 2) return std::nullopt;
    SoundView view;
    view.bytes = sound;
    view.channels = format.nChannels;
    view.bytesPerSample = format.wBitsPerSample / 8;
    view.rate = format.nSamplesPerSec;
    view.frames = static_cast<std::int64_t>(sound.size()) / format.nBlockAlign;
    if (view.frames < 1) return std::nullopt;
    return view;
}

int DecimationOf(const SoundView& view, const FinderOptions& options) {
    const double factor = std::ceil(view.rate / options.analysisRateHz);
    return static_cast<int>(std::clamp(factor, 1.0, kMostDecimation));
}

namespace {

// Sum of the `count` samples at `p`, as stored: signed for 16 bits, offset by 128 for 8.
template <int BytesPerSample>
float SumSamples(const std::uint8_t* p, int count) {
    std::int32_t sum = 0;
    for (int k = 0; k < count; ++k) {
        if constexpr (BytesPerSample == 1) {
            sum += std::int32_t{p[k]} - 128;
        } else {
            sum += static_cast<std::int16_t>(p[2 * k] | p[2 * k + 1] << 8);
        }
    }
    return static_cast<float>(sum);
}

template <int BytesPerSample>
void MixDownAs(const SoundView& view, std::int64_t first, int factor, std::span<float> out) {
    const int samples = factor * view.channels;
    const float scale =
        1.0F / (static_cast<float>(samples) * (BytesPerSample == 1 ? 128.0F : 32768.0F));
    for (std::size_t j = 0; j < out.size(); ++j) {
        const std::int64_t frame = first + static_cast<std::int64_t>(j) * factor;
        if (frame >= 0 && frame + factor <= view.frames) {
            const std::uint8_t* p =
                view.bytes.data() +
                static_cast<std::size_t>(frame * view.channels) * BytesPerSample;
            out[j] = SumSamples<BytesPerSample>(p, samples) * scale;
            continue;
        }
        float sum = 0.0F;  // the edges of the sound, frame by frame
        for (std::int64_t f = frame; f < frame + factor; ++f) {
            if (f < 0 || f >= view.frames) continue;
            for (int c = 0; c < view.channels; ++c) sum += view.Sample(f, c);
        }
        out[j] = sum / static_cast<float>(samples);
    }
}

}  // namespace

void MixDown(const SoundView& view, std::int64_t first, int factor, std::span<float> out) {
    if (view.bytesPerSample == 1) {
        MixDownAs<1>(view, first, factor, out);
    } else {
        MixDownAs<2>(view, first, factor, out);
    }
}

}  // namespace finder
